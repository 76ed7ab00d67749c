// Raw deflate at level 1 of response bodies: the content coder (libdeflate) against zlib.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <string>

#include "service/FrontEndCoding.h"
#include "support/SampleBody.h"

namespace {

void BM_ContentCoder(benchmark::State& state) {
  const std::string body = SampleResponseBody(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(CompressDeflate.Encode(body));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body.size()));
  state.counters["ratio"] = double(CompressDeflate.Encode(body).size()) / double(body.size());
}
BENCHMARK(BM_ContentCoder)->Arg(8 << 10)->Arg(64 << 10);

// zlib's raw deflate at level 1 with one reused stream: the coder it replaced.
void BM_ZlibRawDeflate(benchmark::State& state) {
  const std::string body = SampleResponseBody(state.range(0));
  z_stream zs{};
  deflateInit2(&zs, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out;
  for (auto _ : state) {
    deflateReset(&zs);
    out.resize(deflateBound(&zs, uLong(body.size())));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    zs.avail_in = uInt(body.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body.size()));
  state.counters["ratio"] = double(out.size()) / double(body.size());
  deflateEnd(&zs);
}
BENCHMARK(BM_ZlibRawDeflate)->Arg(8 << 10)->Arg(64 << 10);

}  // namespace

BENCHMARK_MAIN();
