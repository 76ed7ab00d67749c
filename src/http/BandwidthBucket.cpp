#include "http/BandwidthBucket.h"

#include <algorithm>

namespace {

// Timers come late on a busy machine: this much unused link time is still granted afterwards, so
// the total stays at the cap.
constexpr auto kBurst = std::chrono::milliseconds(2);

void WakeAll(std::vector<std::pair<TBandwidthBucket::TWake, std::size_t>>& granted) {
  for (auto& [wake, bytes] : granted) wake(bytes);
}

}  // namespace

void TBandwidthBucket::SetRate(uint32_t bytesPerSecond) {
  if (bytesPerSecond > 0 && bytesPerSecond < 1024) bytesPerSecond = 1024;
  std::lock_guard<std::mutex> hold(FLock);
  FRate.store(bytesPerSecond);
  FNext = FNow();  // no debt carried over from the old rate
}

std::size_t TBandwidthBucket::Chunk(uint64_t rate) const {
  return std::clamp<uint64_t>(rate / 16, 1024, 64 * 1024);
}

TBandwidthBucket::Clock::duration TBandwidthBucket::Cost(std::size_t bytes, uint64_t rate) const {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(bytes * 1000000000ull / rate));
}

void TBandwidthBucket::ForgetOldCredit(Clock::time_point now, uint64_t rate) {
  const auto oldest = now - std::max<Clock::duration>(kBurst, Cost(Chunk(rate), rate));
  FNext = std::max(FNext, oldest);
}

TBandwidthBucket::TAsk TBandwidthBucket::Ask(std::string_view address, std::size_t wanted, TWake wake) {
  if (FRate.load(std::memory_order_relaxed) == 0) return {wanted, {}};
  std::lock_guard<std::mutex> hold(FLock);
  const uint64_t rate = FRate.load();
  if (rate == 0) return {wanted, {}};
  const auto now = FNow();
  ForgetOldCredit(now, rate);
  if (FTurn.empty() && FNext <= now) {
    const std::size_t bytes = std::min(wanted, Chunk(rate));
    FNext += Cost(bytes, rate);
    return {bytes, {}};
  }
  auto [flow, added] = FFlows.try_emplace(std::string(address));
  if (flow->second.empty()) FTurn.push_back(&*flow);
  flow->second.push_back({wanted, std::move(wake)});
  ++FWaiting;
  if (FArmed) return {};
  FArmed = true;
  return {0, FNext};
}

std::optional<TBandwidthBucket::Clock::time_point> TBandwidthBucket::Dispatch() {
  TGranted granted;
  std::optional<Clock::time_point> next;
  {
    std::lock_guard<std::mutex> hold(FLock);
    const uint64_t rate = FRate.load();
    const auto now = FNow();
    if (rate != 0) ForgetOldCredit(now, rate);
    while (!FTurn.empty() && (rate == 0 || FNext <= now)) {
      auto* flow = FTurn.front();
      FTurn.pop_front();
      TWaiter& waiter = flow->second.front();
      const std::size_t bytes = rate == 0 ? waiter.Wanted : std::min(waiter.Wanted, Chunk(rate));
      if (rate != 0) FNext += Cost(bytes, rate);
      granted.emplace_back(std::move(waiter.Wake), bytes);
      flow->second.pop_front();
      --FWaiting;
      // The address goes to the back of the turn with its next sender, or leaves it.
      if (flow->second.empty()) FFlows.erase(FFlows.find(flow->first));
      else FTurn.push_back(flow);
    }
    FArmed = !FTurn.empty();
    if (FArmed) next = FNext;
  }
  WakeAll(granted);
  return next;
}

void TBandwidthBucket::Clear() {
  TFlows dropped;
  {
    std::lock_guard<std::mutex> hold(FLock);
    dropped.swap(FFlows);
    FTurn.clear();
    FWaiting = 0;
    FArmed = false;
  }
}

std::size_t TBandwidthBucket::Waiting() const {
  std::lock_guard<std::mutex> hold(FLock);
  return FWaiting;
}
