#include "service/BodyCache.h"

#include <algorithm>

namespace {

// What an entry costs: its key, its own bytes with room for a coded form, and the bookkeeping.
// Bytes held by their owner (a stored map or wav) cost nothing more for being kept here.
std::size_t EntryCost(const std::string& key, const THttpBody& body) {
  return 2 * key.size() + (body.OwnsBytes() ? 2 * body.Plain().size() : 0) + 160;
}

}  // namespace

TBodyCache::TBodyCache(std::size_t budget, TStalePrefixes stale)
    : FShardBudget(budget / kShards), FStale(std::move(stale)) {}

TBodyCache::TShard& TBodyCache::ShardOf(const std::string& key) {
  return FShards[std::hash<std::string>{}(key) % kShards];
}

void TBodyCache::Erase(TShard& shard, TEntries::iterator it, std::vector<THttpBodyRef>& released) {
  shard.Bytes -= it->second.Cost;
  shard.Use.erase(it->second.Use);
  released.push_back(std::move(it->second.Body));
  shard.Entries.erase(it);
}

bool TBodyCache::Current(TShard& shard, uint64_t generation, std::vector<THttpBodyRef>& released) const {
  if (generation < shard.Generation) return false;
  if (generation > shard.Generation) {
    const std::optional<std::vector<std::string>> stale = FStale ? FStale(shard.Generation) : std::nullopt;
    for (auto it = shard.Entries.begin(); it != shard.Entries.end();) {
      const std::string& key = it->first;
      const bool drop = !stale || std::any_of(stale->begin(), stale->end(), [&key](const std::string& p) {
                          return key.compare(0, p.size(), p) == 0;
                        });
      drop ? Erase(shard, it++, released) : void(++it);
    }
    shard.Generation = generation;
  }
  return true;
}

THttpBodyRef TBodyCache::Find(const std::string& key, uint64_t generation) {
  TShard& shard = ShardOf(key);
  std::vector<THttpBodyRef> released;  // destroyed after the lock
  std::lock_guard<std::mutex> hold(shard.Lock);
  if (!Current(shard, generation, released)) return nullptr;
  auto it = shard.Entries.find(key);
  if (it == shard.Entries.end()) return nullptr;
  shard.Use.splice(shard.Use.begin(), shard.Use, it->second.Use);
  return it->second.Body;
}

void TBodyCache::Insert(const std::string& key, uint64_t generation, THttpBodyRef body) {
  if (!body) return;
  const std::size_t cost = EntryCost(key, *body);
  if (cost > FShardBudget) return;
  TShard& shard = ShardOf(key);
  std::vector<THttpBodyRef> released;
  std::lock_guard<std::mutex> hold(shard.Lock);
  if (!Current(shard, generation, released) || shard.Entries.count(key)) return;
  while (shard.Bytes + cost > FShardBudget && !shard.Use.empty())
    Erase(shard, shard.Entries.find(shard.Use.back()), released);
  shard.Use.push_front(key);
  shard.Entries.emplace(key, TEntry{std::move(body), cost, shard.Use.begin()});
  shard.Bytes += cost;
}

std::size_t TBodyCache::Bytes() const {
  std::size_t bytes = 0;
  for (const TShard& shard : FShards) {
    std::lock_guard<std::mutex> hold(shard.Lock);
    bytes += shard.Bytes;
  }
  return bytes;
}
