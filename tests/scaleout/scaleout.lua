-- wrk script of the scale-out test and its benchmark. Arguments after "--": the file of request
-- targets; the share of index-table requests (1 in N, each with a token of its own so that no
-- instance refuses it; 0 for none); optionally two files listing the files of the right bodies,
-- plain and deflate-coded. Threads of odd number ask with "Accept-Encoding: deflate", the others
-- without. Counts answers that are not 200, bodies that are none of the right ones for the
-- thread's coding (when the lists are given) and the cache statuses nginx reports; done() prints
-- them as "name value" lines.
local paths = {}
local right = nil
local table_every = 0
local deflate = false
local next_index = 0
local sent = 0
local threads = {}

function setup(thread)
  thread:set("thread_id", #threads)
  table.insert(threads, thread)
end

function init(args)
  for line in io.lines(args[1]) do
    if #line > 0 then paths[#paths + 1] = line end
  end
  table_every = tonumber(args[2] or "0")
  deflate = (thread_id or 0) % 2 == 1
  local list = args[deflate and 4 or 3]
  if list and #list > 0 then
    right = {}
    for name in io.lines(list) do
      local f = assert(io.open(name, "rb"))
      right[f:read("*a")] = true
      f:close()
    end
  end
  next_index = ((thread_id or 0) * 97) % #paths
  answers, not_ok, wrong, empty = 0, 0, 0, 0
  hit, miss, stale, other = 0, 0, 0, 0
end

function request()
  sent = sent + 1
  if table_every > 0 and sent % table_every == 0 then
    return wrk.format(nil, string.format("/wclientdat/%02x%08x/check-indexes", thread_id, sent))
  end
  next_index = next_index % #paths + 1
  if deflate then
    return wrk.format(nil, paths[next_index], {["Accept-Encoding"] = "deflate"})
  end
  return wrk.format(nil, paths[next_index])
end

function response(status, headers, body)
  answers = answers + 1
  if status ~= 200 then not_ok = not_ok + 1 end
  if #body == 0 then
    empty = empty + 1
  elseif right and not right[body] then
    wrong = wrong + 1
  end
  local cache = headers["X-Cache-Status"] or headers["x-cache-status"]
  if cache == "HIT" then hit = hit + 1
  elseif cache == "MISS" or cache == "BYPASS" then miss = miss + 1
  elseif cache == "STALE" or cache == "UPDATING" then stale = stale + 1
  else other = other + 1 end
end

function done(summary, latency, requests)
  local totals = {}
  for _, name in ipairs({"answers", "not_ok", "wrong", "empty", "hit", "miss", "stale", "other"}) do
    totals[name] = 0
    for _, thread in ipairs(threads) do totals[name] = totals[name] + (thread:get(name) or 0) end
    io.write(string.format("%s %d\n", name, totals[name]))
  end
end
