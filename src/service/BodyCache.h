// Answers of the request service kept for reuse (image entries and library headers, and the
// bodies over stored maps and wavs), within a byte budget, least recently used out first. Each entry carries the catalogue generation it was made
// from; a newer generation empties the cache, so nothing made before a reload or unload is served,
// or drops only the entries the change touched when the catalogue can name them.
// Any thread. The keys are spread over shards with a lock each, so the event loops and workers
// that look up at once seldom meet on one lock; bodies that leave are released after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "http/HttpApiServer.h"

// The key prefixes of the entries made stale by the changes after generation `since`, or nothing
// when every entry may be stale.
using TStalePrefixes = std::function<std::optional<std::vector<std::string>>(uint64_t since)>;

class TBodyCache {
 public:
  explicit TBodyCache(std::size_t budget, TStalePrefixes stale = nullptr);

  // The body kept under `key` for catalogue `generation`, or nothing.
  THttpBodyRef Find(const std::string& key, uint64_t generation);
  // Keeps `body` when it was made from the current or a newer generation and fits the budget.
  void Insert(const std::string& key, uint64_t generation, THttpBodyRef body);
  std::size_t Bytes() const;

 private:
  struct TEntry {
    THttpBodyRef Body;
    std::size_t Cost;
    std::list<std::string>::iterator Use;
  };
  using TEntries = std::unordered_map<std::string, TEntry>;
  struct TShard {
    mutable std::mutex Lock;
    uint64_t Generation = 0;
    std::size_t Bytes = 0;
    TEntries Entries;
    std::list<std::string> Use;  // most recently used first
  };
  static constexpr std::size_t kShards = 16;

  TShard& ShardOf(const std::string& key);
  // With the shard's lock held: moves to `generation` when it is newer; false when it is older.
  // Bodies that leave go to `released`.
  bool Current(TShard& shard, uint64_t generation, std::vector<THttpBodyRef>& released) const;
  static void Erase(TShard& shard, TEntries::iterator it, std::vector<THttpBodyRef>& released);

  const std::size_t FShardBudget;
  const TStalePrefixes FStale;
  std::array<TShard, kShards> FShards;
};
