-- wrk script of bench/hostile_clients.sh: index-table requests, each with a token never sent
-- before, of the length given after "--"; each thread stops after its share of the count.
local threads = 0

function setup(thread)
  thread:set("thread_id", threads)
  threads = threads + 1
end

local length, share, sent, answered = 0, 0, 0, 0
local pad = ""

function init(args)
  length = tonumber(args[1])
  share = tonumber(args[2])
end

function request()
  sent = sent + 1
  local id = string.format("%x-%x-", thread_id, sent)
  if #pad ~= length - #id then pad = string.rep("f", math.max(0, length - #id)) end
  return wrk.format(nil, "/wclientdat/" .. id .. pad .. "/check-indexes")
end

function response(status, headers, body)
  answered = answered + 1
  if answered >= share then wrk.thread:stop() end
end
