#include "service/BodyCache.h"

#include <functional>

namespace {

// What an entry costs: its key, its own bytes with room for a coded form, and the bookkeeping.
// Bytes held by their owner (a stored map or wav) cost nothing more for being kept here.
std::size_t EntryCost(const std::string& key, const THttpBody& body) {
  return 2 * key.size() + (body.OwnsBytes() ? 2 * body.Plain().size() : 0) + 160;
}

}  // namespace

TBodyCache::TBodyCache(std::size_t budget) : FShardBudget(budget / kShards) {}

TBodyCache::TShard& TBodyCache::ShardOf(const std::string& key) {
  return FShards[std::hash<std::string>{}(key) % kShards];
}

bool TBodyCache::Current(TShard& shard, uint64_t generation, TEntries& released) {
  if (generation < shard.Generation) return false;
  if (generation > shard.Generation) {
    released.swap(shard.Entries);
    shard.Use.clear();
    shard.Bytes = 0;
    shard.Generation = generation;
  }
  return true;
}

THttpBodyRef TBodyCache::Find(const std::string& key, uint64_t generation) {
  TShard& shard = ShardOf(key);
  TEntries released;  // destroyed after the lock
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
  TEntries released;
  std::vector<THttpBodyRef> evicted;  // released after the lock, with `released`
  std::lock_guard<std::mutex> hold(shard.Lock);
  if (!Current(shard, generation, released) || shard.Entries.count(key)) return;
  while (shard.Bytes + cost > FShardBudget && !shard.Use.empty()) {
    auto last = shard.Entries.find(shard.Use.back());
    shard.Bytes -= last->second.Cost;
    evicted.push_back(std::move(last->second.Body));
    shard.Entries.erase(last);
    shard.Use.pop_back();
  }
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
