// The throttle of the index-table request: the table is answered for a token once per interval.
// Anyone may send any token, so what the throttle holds is bounded: a token longer than any a game
// client makes is never stored, entries older than the interval go as time passes, and beyond a cap
// the oldest entry goes first. Any thread; one lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class TCheckIndexesThrottle {
 public:
  // The index-table request of one token is answered once per this many milliseconds.
  static constexpr int64_t kInterval = 300000;
  // A client's token is the hexadecimal text of "dir|file|image", two digits a byte: 1040 digits
  // hold a path of the 260 characters Windows allows, each two bytes in code page 936.
  static constexpr std::size_t kMaxToken = 1040;
  // More distinct tokens than clients start in an interval on a large server; at most about
  // 20 MB even when every one is as long as a token may be.
  static constexpr std::size_t kMaxEntries = 16384;

  explicit TCheckIndexesThrottle(std::size_t maxEntries = kMaxEntries, std::size_t maxToken = kMaxToken)
      : FMaxEntries(maxEntries), FMaxToken(maxToken) {}
  TCheckIndexesThrottle(const TCheckIndexesThrottle&) = delete;
  TCheckIndexesThrottle& operator=(const TCheckIndexesThrottle&) = delete;

  // True when the table may be served for `token` at `now` (a millisecond tick), which then counts
  // as its last time; false while the interval since its last time runs, which leaves that time.
  bool Admit(std::string_view token, int64_t now);
  // Drops the entries whose interval has run out; a relaxed read when none has.
  void Expire(int64_t now);
  std::size_t Count() const;

 private:
  struct TEntry {
    std::string Token;
    int64_t At;
  };
  void DropExpired(int64_t now);

  const std::size_t FMaxEntries, FMaxToken;
  mutable std::mutex FLock;
  std::list<TEntry> FOrder;  // by last time, oldest first (the tick never goes back)
  std::unordered_map<std::string_view, std::list<TEntry>::iterator> FIndex;  // keys view FOrder's tokens
  std::atomic<int64_t> FOldest{INT64_MAX};  // At of FOrder's front; INT64_MAX when empty
};
