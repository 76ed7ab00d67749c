// One token bucket for all connections of a front end: the send-rate cap.
// A sender reserves a chunk and waits until the bucket has paid for the chunks reserved before it;
// the chunk itself is paid while it is on its way. Safe from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>

#include "platform/Clock.h"

class TBandwidthBucket {
 public:
  // `nowNs`: the clock in nanoseconds; tests pass one they drive.
  explicit TBandwidthBucket(TTickSource nowNs = GetTickCountNs) : FNowNs(std::move(nowNs)) {}

  // 0 removes the cap; 1 to 1023 become 1024.
  void SetRate(uint32_t bytesPerSecond);
  uint32_t Rate() const { return FRate.load(); }

  struct TGrant {
    std::size_t Bytes;
    std::chrono::nanoseconds Wait;
  };
  // Reserves up to `wanted` bytes; without a cap all of them at once and no wait.
  TGrant Reserve(std::size_t wanted);

 private:
  const TTickSource FNowNs;
  std::mutex FLock;
  std::atomic<uint32_t> FRate{0};
  uint64_t FNext = 0;  // when the chunks reserved so far are paid
};
