// What the metrics counting adds to every request: the two counting calls a request makes, on
// 1 to 32 threads at once (as the workers run), beside one shared atomic counter bumped the
// plain way, which is what the per-thread shards avoid.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>

#include "service/Metrics.h"

namespace {

TServiceMetrics g_Metrics;

void BM_CountOneRequest(benchmark::State& state) {
  for (auto _ : state) {
    g_Metrics.CountRequest(TWClientRequestKind::Image, TRequestOutcome::Answered);
    g_Metrics.CountResponse(4096, 1500, std::chrono::microseconds(180));
  }
}
BENCHMARK(BM_CountOneRequest)->ThreadRange(1, 32)->UseRealTime();

std::atomic<uint64_t> g_Shared{0};

void BM_OneSharedCounter(benchmark::State& state) {
  for (auto _ : state) g_Shared.fetch_add(1);
}
BENCHMARK(BM_OneSharedCounter)->ThreadRange(1, 32)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
