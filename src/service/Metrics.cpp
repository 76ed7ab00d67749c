#include "service/Metrics.h"

#include <algorithm>

namespace {

// Enough shards that the 32 workers and the event loops seldom share one.
constexpr size_t kShards = 64;

void Add(std::atomic<uint64_t>& counter, uint64_t n) { counter.fetch_add(n, std::memory_order_relaxed); }
uint64_t Get(const std::atomic<uint64_t>& counter) { return counter.load(std::memory_order_relaxed); }

// Each thread's shard number, the same in every metrics object.
size_t MyShard() {
  static std::atomic<size_t> next{0};
  thread_local const size_t shard = next.fetch_add(1, std::memory_order_relaxed) % kShards;
  return shard;
}

}  // namespace

struct alignas(64) TServiceMetrics::TShard {
  std::array<std::array<std::atomic<uint64_t>, kOutcomes>, kRequestKinds> Requests{};
  std::atomic<uint64_t> BytesRaw{0};
  std::atomic<uint64_t> BytesSent{0};
  std::array<std::atomic<uint64_t>, kLatencyBoundsUs.size() + 1> Latency{};
  std::atomic<uint64_t> LatencySumUs{0};
};

TServiceMetrics::TServiceMetrics() : FShards(new TShard[kShards]) {}

TServiceMetrics::~TServiceMetrics() = default;

TRequestOutcome RefusalOutcome(int32_t nCode) {
  switch (nCode) {
    case -1: return TRequestOutcome::Refused1;
    case -2: return TRequestOutcome::Refused2;
    case -3: return TRequestOutcome::Refused3;
    case -4: return TRequestOutcome::Refused4;
    default: return TRequestOutcome::TooSoon;
  }
}

void TServiceMetrics::CountRequest(TWClientRequestKind kind, TRequestOutcome outcome) {
  Add(FShards[MyShard()].Requests[static_cast<size_t>(kind)][static_cast<size_t>(outcome)], 1);
}

void TServiceMetrics::CountResponse(size_t raw, size_t sent, std::chrono::microseconds latency) {
  TShard& shard = FShards[MyShard()];
  Add(shard.BytesRaw, raw);
  Add(shard.BytesSent, sent);
  const uint64_t us = static_cast<uint64_t>(std::max<int64_t>(latency.count(), 0));
  const size_t bucket = std::lower_bound(kLatencyBoundsUs.begin(), kLatencyBoundsUs.end(), us) - kLatencyBoundsUs.begin();
  Add(shard.Latency[bucket], 1);
  Add(shard.LatencySumUs, us);
}

void TServiceMetrics::CountLoadPass(std::chrono::milliseconds duration, const TPassReport& report) {
  FLastPassMs.store(static_cast<uint64_t>(duration.count()), std::memory_order_relaxed);
  FDataMemoryBytes.store(report.StoredBytes(), std::memory_order_relaxed);
  for (size_t state = 0; state < kEntryStates; ++state)
    FResources[state].store(report.Count(static_cast<TEntryState>(state)), std::memory_order_relaxed);
  Add(FLoadPasses, 1);
}

TMetricsSnapshot TServiceMetrics::Read() const {
  TMetricsSnapshot s;
  for (size_t i = 0; i < kShards; ++i) {
    const TShard& shard = FShards[i];
    for (size_t k = 0; k < kRequestKinds; ++k)
      for (size_t o = 0; o < kOutcomes; ++o) s.Requests[k][o] += Get(shard.Requests[k][o]);
    s.BytesRaw += Get(shard.BytesRaw);
    s.BytesSent += Get(shard.BytesSent);
    for (size_t b = 0; b < s.Latency.size(); ++b) s.Latency[b] += Get(shard.Latency[b]);
    s.LatencySumUs += Get(shard.LatencySumUs);
  }
  s.LoadPasses = Get(FLoadPasses);
  s.LastPassMs = Get(FLastPassMs);
  s.DataMemoryBytes = Get(FDataMemoryBytes);
  for (size_t state = 0; state < kEntryStates; ++state) s.Resources[state] = Get(FResources[state]);
  return s;
}

const char* RequestKindLabel(size_t kind) {
  static constexpr const char* kLabels[kRequestKinds] = {"none", "index", "no_image_field", "header",
                                                         "image", "map", "wav"};
  return kind < kRequestKinds ? kLabels[kind] : "";
}

const char* OutcomeLabel(size_t outcome) {
  static constexpr const char* kLabels[kOutcomes] = {"answered", "empty", "400", "-1", "-2", "-3", "-4", "-99"};
  return outcome < kOutcomes ? kLabels[outcome] : "";
}
