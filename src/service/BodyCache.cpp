#include "service/BodyCache.h"

#include <algorithm>

namespace {

// What an entry costs: its key, its own bytes with room for a coded form, and the bookkeeping.
// Bytes held by their owner (a stored map or wav) cost nothing more for being kept here.
std::size_t EntryCost(const std::string& key, const THttpBody& body) {
  return 2 * key.size() + (body.OwnsBytes() ? 2 * body.Plain().size() : 0) + 160;
}

}  // namespace

void TBodyCache::Erase(std::unordered_map<std::string, TEntry>::iterator it) {
  FBytes -= it->second.Cost;
  FUse.erase(it->second.Use);
  FEntries.erase(it);
}

bool TBodyCache::Current(uint64_t generation) {
  if (generation < FGeneration) return false;
  if (generation > FGeneration) {
    const std::optional<std::vector<std::string>> stale = FStale ? FStale(FGeneration) : std::nullopt;
    if (stale) {
      for (auto it = FEntries.begin(); it != FEntries.end();) {
        const std::string& key = it->first;
        const bool drop = std::any_of(stale->begin(), stale->end(),
                                      [&key](const std::string& p) { return key.compare(0, p.size(), p) == 0; });
        drop ? Erase(it++) : void(++it);
      }
    } else {
      FEntries.clear();
      FUse.clear();
      FBytes = 0;
    }
    FGeneration = generation;
  }
  return true;
}

THttpBodyRef TBodyCache::Find(const std::string& key, uint64_t generation) {
  std::lock_guard<std::mutex> hold(FLock);
  if (!Current(generation)) return nullptr;
  auto it = FEntries.find(key);
  if (it == FEntries.end()) return nullptr;
  FUse.splice(FUse.begin(), FUse, it->second.Use);
  return it->second.Body;
}

void TBodyCache::Insert(const std::string& key, uint64_t generation, THttpBodyRef body) {
  if (!body) return;
  const std::size_t cost = EntryCost(key, *body);
  if (cost > FBudget) return;
  std::lock_guard<std::mutex> hold(FLock);
  if (!Current(generation) || FEntries.count(key)) return;
  while (FBytes + cost > FBudget && !FUse.empty()) Erase(FEntries.find(FUse.back()));
  FUse.push_front(key);
  FEntries.emplace(key, TEntry{std::move(body), cost, FUse.begin()});
  FBytes += cost;
}

std::size_t TBodyCache::Bytes() const {
  std::lock_guard<std::mutex> hold(FLock);
  return FBytes;
}
