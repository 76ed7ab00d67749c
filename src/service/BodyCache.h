// Answers of the request service kept for reuse (image entries and library headers, and the
// bodies over stored maps and wavs), within a byte budget, least recently used out first. Each entry carries the catalogue generation it was made
// from; a newer generation empties the cache, so nothing made before a reload or unload is served,
// or drops only the entries the change touched when the catalogue can name them.
// Any thread.
#pragma once

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
  explicit TBodyCache(std::size_t budget, TStalePrefixes stale = nullptr)
      : FBudget(budget), FStale(std::move(stale)) {}

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
  // Call with FLock held: moves to `generation` when it is newer; false when it is older.
  bool Current(uint64_t generation);
  void Erase(std::unordered_map<std::string, TEntry>::iterator it);

  const std::size_t FBudget;
  const TStalePrefixes FStale;
  mutable std::mutex FLock;
  uint64_t FGeneration = 0;
  std::size_t FBytes = 0;
  std::unordered_map<std::string, TEntry> FEntries;
  std::list<std::string> FUse;  // most recently used first
};
