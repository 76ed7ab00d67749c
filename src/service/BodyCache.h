// Answers of the request service kept for reuse (image entries and library headers, and the
// bodies over stored maps and wavs), within a byte budget, least recently used out first. Each entry carries the catalogue generation it was made
// from; a newer generation empties the cache, so nothing made before a reload or unload is served.
// Any thread. The keys are spread over shards with a lock each, so the event loops and workers
// that look up at once seldom meet on one lock; bodies that leave are released after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "http/HttpApiServer.h"

class TBodyCache {
 public:
  explicit TBodyCache(std::size_t budget);

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
  // With the shard's lock held: moves to `generation` when it is newer (what it held goes to
  // `released`); false when it is older.
  static bool Current(TShard& shard, uint64_t generation, TEntries& released);

  std::size_t FShardBudget;
  std::array<TShard, kShards> FShards;
};
