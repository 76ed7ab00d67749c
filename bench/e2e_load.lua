-- wrk script of bench/e2e_load.sh: rotates the requests over the request targets listed in the
-- file given after "--", each thread starting at its own place in the list.
local paths = {}
local next_index = 0
local threads = 0

function setup(thread)
  thread:set("thread_id", threads)
  threads = threads + 1
end

function init(args)
  for line in io.lines(args[1]) do
    if #line > 0 then paths[#paths + 1] = line end
  end
  next_index = ((thread_id or 0) * 97) % #paths
end

function request()
  next_index = next_index % #paths + 1
  return wrk.format(nil, paths[next_index])
end
