// The service's counters for the metrics listener: requests by kind and outcome, response bytes
// (raw and as sent), the request-latency histogram and the load passes. Written on the hot path of
// every worker, so each thread adds to a shard of its own with relaxed atomics and nothing is
// shared until the counters are read. Any thread; the counts only ever grow.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "catalogue/PassReport.h"
#include "service/WClientRequest.h"

// How a request ended: answered (with a body or empty), or refused with its code.
enum class TRequestOutcome : uint8_t {
  Answered, Empty, NoImageField, Refused1, Refused2, Refused3, Refused4, TooSoon, kCount
};
// The outcome of a refusal code (-1 to -4, -99).
TRequestOutcome RefusalOutcome(int32_t nCode);

inline constexpr size_t kRequestKinds = 7;  // the values of TWClientRequestKind
inline constexpr size_t kOutcomes = static_cast<size_t>(TRequestOutcome::kCount);
// Upper bounds of the latency buckets in microseconds; one more bucket counts everything above.
inline constexpr std::array<uint64_t, 12> kLatencyBoundsUs = {
    100, 250, 500, 1000, 2500, 5000, 10000, 25000, 50000, 100000, 250000, 1000000};

// The counters summed over every thread's shard.
struct TMetricsSnapshot {
  std::array<std::array<uint64_t, kOutcomes>, kRequestKinds> Requests{};
  uint64_t BytesRaw = 0;    // response bodies before coding
  uint64_t BytesSent = 0;   // response bodies as sent (coded when a coding applied)
  std::array<uint64_t, kLatencyBoundsUs.size() + 1> Latency{};  // per bucket, not cumulative
  uint64_t LatencySumUs = 0;
  uint64_t LoadPasses = 0;
  uint64_t LastPassMs = 0;
  // From the report of the last completed pass: bytes stored, entries by state.
  uint64_t DataMemoryBytes = 0;
  std::array<uint64_t, kEntryStates> Resources{};
};

class TServiceMetrics {
 public:
  TServiceMetrics();
  ~TServiceMetrics();
  TServiceMetrics(const TServiceMetrics&) = delete;
  TServiceMetrics& operator=(const TServiceMetrics&) = delete;

  // The request handler: one request of `kind` ended with `outcome`.
  void CountRequest(TWClientRequestKind kind, TRequestOutcome outcome);
  // The front end: one response went out, `raw` body bytes as `sent` bytes, `latency` after its
  // request was received.
  void CountResponse(size_t raw, size_t sent, std::chrono::microseconds latency);
  // The service owner: a load pass completed in `duration` with `report`.
  void CountLoadPass(std::chrono::milliseconds duration, const TPassReport& report);

  TMetricsSnapshot Read() const;

 private:
  struct TShard;
  std::unique_ptr<TShard[]> FShards;
  std::atomic<uint64_t> FLoadPasses{0};
  std::atomic<uint64_t> FLastPassMs{0};
  std::atomic<uint64_t> FDataMemoryBytes{0};
  std::array<std::atomic<uint64_t>, kEntryStates> FResources{};
};

// The text names of a request kind and an outcome as the exposition labels them.
const char* RequestKindLabel(size_t kind);
const char* OutcomeLabel(size_t outcome);
