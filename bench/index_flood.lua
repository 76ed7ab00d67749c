-- wrk script of bench/hostile_clients.sh: index-table requests, each with a token never sent
-- before, of the length given after "--".
local threads = 0

function setup(thread)
  thread:set("thread_id", threads)
  threads = threads + 1
end

local length, sent = 0, 0
local pad = ""

function init(args)
  length = tonumber(args[1])
end

function request()
  sent = sent + 1
  local id = string.format("%x-%x-", thread_id, sent)
  if #pad ~= length - #id then pad = string.rep("f", math.max(0, length - #id)) end
  return wrk.format(nil, "/wclientdat/" .. id .. pad .. "/check-indexes")
end
