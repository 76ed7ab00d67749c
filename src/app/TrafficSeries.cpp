#include "app/TrafficSeries.h"

#include "service/ServiceState.h"

void TTrafficSeries::Sample(uint64_t nowMs, const TTrafficCounters& counters) {
  std::lock_guard hold(FLock);
  if (FHasBase) {
    // Unsigned differences: a counter put back to zero (tests) gives one odd sample, never a crash.
    const TTrafficSample sample{nowMs, nowMs - FBaseMs,
                                {counters.Requests - FBase.Requests, counters.Errors - FBase.Errors,
                                 counters.Bytes - FBase.Bytes}};
    if (FRing.size() < kSamples) {
      FRing.push_back(sample);
    } else {
      FRing[FNext] = sample;
      FNext = (FNext + 1) % kSamples;
    }
  }
  FHasBase = true;
  FBaseMs = nowMs;
  FBase = counters;
}

std::vector<TTrafficSample> TTrafficSeries::Samples() const {
  std::lock_guard hold(FLock);
  std::vector<TTrafficSample> out;
  out.reserve(FRing.size());
  for (size_t i = 0; i < FRing.size(); ++i) out.push_back(FRing[(FNext + i) % FRing.size()]);
  return out;
}

TTrafficCounters CurrentTrafficCounters() {
  return {g_nDataRead.load(std::memory_order_relaxed), g_nDataRead404.load(std::memory_order_relaxed),
          g_nDataSend.load(std::memory_order_relaxed)};
}
