#include "http/BandwidthBucket.h"

#include <algorithm>

void TBandwidthBucket::SetRate(uint32_t bytesPerSecond) {
  if (bytesPerSecond > 0 && bytesPerSecond < 1024) bytesPerSecond = 1024;
  std::lock_guard<std::mutex> hold(FLock);
  FRate.store(bytesPerSecond);
  FNext = FNowNs();  // no debt carried over from the old rate
}

TBandwidthBucket::TGrant TBandwidthBucket::Reserve(std::size_t wanted) {
  if (FRate.load(std::memory_order_relaxed) == 0) return {wanted, {}};
  std::lock_guard<std::mutex> hold(FLock);
  const uint64_t rate = FRate.load();
  if (rate == 0) return {wanted, {}};
  const std::size_t chunk = std::min<std::size_t>(wanted, std::clamp<uint64_t>(rate / 16, 1024, 64 * 1024));
  const uint64_t now = FNowNs();
  const uint64_t start = std::max(FNext, now);
  FNext = start + chunk * 1000000000ull / rate;
  return {chunk, std::chrono::nanoseconds(start - now)};
}
