// The checksums on the image path, each beside the library routine it could be replaced by, and
// the token decoding every resource request runs.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <array>
#include <string>

#include "formats/CnCRC32.h"
#include "formats/MD5.h"
#include "settings/TarnShare.h"
#include "service/RequestToken.h"

namespace {

constexpr size_t kBlock = 64 * 1024;

const std::string& Block() {
  static const std::string block = [] {
    std::string b(kBlock, '\0');
    uint32_t x = 12345;
    for (char& c : b) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    return b;
  }();
  return block;
}

void BM_CRC32CalcTable(benchmark::State& state) {
  const std::string& b = Block();
  for (auto _ : state) benchmark::DoNotOptimize(CRC32CalcTable(0, b.data(), kBlock));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_CRC32CalcTable);

void BM_CRC32Calc(benchmark::State& state) {
  const std::string& b = Block();
  for (auto _ : state) benchmark::DoNotOptimize(CRC32Calc(0, b.data(), kBlock));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_CRC32Calc);

void BM_ZlibCrc32(benchmark::State& state) {
  const std::string& b = Block();
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0, reinterpret_cast<const Bytef*>(b.data()), kBlock));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_ZlibCrc32);

void BM_MD5Input(benchmark::State& state) {
  const std::string& b = Block();
  for (auto _ : state) benchmark::DoNotOptimize(MD5Input(b.data(), kBlock));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_MD5Input);

void BM_LibcryptoMd5(benchmark::State& state) {
  const std::string& b = Block();
  std::array<unsigned char, 16> digest{};
  for (auto _ : state) {
    unsigned int len = 0;
    EVP_Digest(b.data(), kBlock, digest.data(), &len, EVP_md5(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_LibcryptoMd5);

void BM_SimpleDeStringMsg(benchmark::State& state) {
  const auto key = MD5String("418K7_p2593");
  // 20 plain bytes: a typical directory, file and image of an image request.
  const std::string token = SimpleEnStringMsg("data|hum.wzl|123456", key) + "2A";
  for (auto _ : state) benchmark::DoNotOptimize(SimpleDeStringMsg(token, key));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * token.size()));
}
BENCHMARK(BM_SimpleDeStringMsg);

}  // namespace

BENCHMARK_MAIN();
