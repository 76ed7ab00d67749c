// The send-rate cap of a front end: bytes per second for all connections together, shared in turn
// among the client addresses that have something to send (one chunk per address and turn), so an
// address with many connections gets one address's share while others wait, and the whole cap
// when it is alone. A sender asks for its next chunk; it gets it at once while the cap has room
// and nobody waits, else it waits in its address's queue until Dispatch grants it.
// Safe from any thread; the wakers run without the lock held.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TBandwidthBucket {
 public:
  using Clock = std::chrono::steady_clock;
  using TNow = std::function<Clock::time_point()>;
  // Receives the bytes granted to a waiting sender.
  using TWake = std::function<void(std::size_t bytes)>;

  explicit TBandwidthBucket(TNow now = &Clock::now) : FNow(std::move(now)) {}
  TBandwidthBucket(const TBandwidthBucket&) = delete;
  TBandwidthBucket& operator=(const TBandwidthBucket&) = delete;

  // 0 removes the cap; 1 to 1023 become 1024.
  void SetRate(uint32_t bytesPerSecond);
  uint32_t Rate() const { return FRate.load(); }

  struct TAsk {
    std::size_t Bytes = 0;  // granted now; 0: `wake` gets the grant later
    // Set when the caller must see that Dispatch runs at this time (nobody else is bound to).
    std::optional<Clock::time_point> DispatchAt;
  };
  // Asks for up to `wanted` (> 0) bytes for a sender of client `address`; without a cap all of them.
  TAsk Ask(std::string_view address, std::size_t wanted, TWake wake);
  // Grants what the cap allows by now, an address at a time in turn, and wakes their senders.
  // Returns when to run again, nothing when nobody waits any more.
  std::optional<Clock::time_point> Dispatch();
  // Forgets every waiting sender without waking it (the front end stops).
  void Clear();
  std::size_t Waiting() const;

 private:
  struct TWaiter {
    std::size_t Wanted;
    TWake Wake;
  };
  using TFlows = std::unordered_map<std::string, std::deque<TWaiter>>;
  using TGranted = std::vector<std::pair<TWake, std::size_t>>;

  // With FLock held: the chunk one turn grants, and the link time that `bytes` take.
  std::size_t Chunk(uint64_t rate) const;
  Clock::duration Cost(std::size_t bytes, uint64_t rate) const;
  // With FLock held: no credit older than a short burst is kept, so an idle link sends no flood.
  void ForgetOldCredit(Clock::time_point now, uint64_t rate);

  const TNow FNow;
  mutable std::mutex FLock;
  std::atomic<uint32_t> FRate{0};
  Clock::time_point FNext{};   // when the bytes granted so far have gone out at the cap
  TFlows FFlows;                // addresses with waiting senders, each a queue in asking order
  std::deque<TFlows::value_type*> FTurn;  // those addresses in turn order (map nodes never move)
  std::size_t FWaiting = 0;
  bool FArmed = false;          // a Dispatch is due: the one that set it keeps it running
};
