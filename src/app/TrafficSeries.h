// The traffic of the last ten minutes, second by second, for the browser console's chart: a ring
// of kSamples samples, each the requests, refusals and bytes sent since the one before. The owner
// takes a sample about once a second; readers copy the ring. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

struct TTrafficCounters {
  uint64_t Requests = 0;
  uint64_t Errors = 0;
  uint64_t Bytes = 0;
};

struct TTrafficSample {
  uint64_t AtMs = 0;        // when it was taken, on the clock the owner gives
  uint64_t SpanMs = 0;      // since the sample before
  TTrafficCounters Delta;  // counted during that span
};

class TTrafficSeries {
 public:
  static constexpr size_t kSamples = 600;

  // `counters` are the running totals now. The first call only sets the baseline.
  void Sample(uint64_t nowMs, const TTrafficCounters& counters);
  // Oldest first; at most kSamples.
  std::vector<TTrafficSample> Samples() const;

 private:
  mutable std::mutex FLock;
  bool FHasBase = false;
  uint64_t FBaseMs = 0;
  TTrafficCounters FBase;
  std::vector<TTrafficSample> FRing;  // grows to kSamples, then FNext overwrites the oldest
  size_t FNext = 0;
};

// The traffic counters of the running process (requests answered from the catalogue, refusals,
// body bytes sent).
TTrafficCounters CurrentTrafficCounters();
