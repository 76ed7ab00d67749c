// Load-pass throughput: generates a folder of map and wav files, or runs one catalogue load pass
// over such a folder and prints its throughput. Driven by bench/catalogue_load.sh.
//   catalogue_pass generate DIR MEGABYTES
//   catalogue_pass load DIR [THREADS]   (THREADS 0 or left out: one per core)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "app/ProgramSettings.h"
#include "catalogue/OrderedWork.h"
#include "catalogue/uGameLib.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"
#include "support/DemoData.h"

namespace {

int Generate(const std::string& dir, size_t megabytes) {
  ForceDirectories(dir + "/Map");
  ForceDirectories(dir + "/Wav");
  std::mt19937 rng(42);
  size_t total = 0;
  for (int i = 0; total < megabytes << 20; ++i) {
    const bool map = i % 2 == 0;
    const size_t size = (1u << 20) + rng() % (3u << 20);
    const int side = static_cast<int>(std::sqrt(static_cast<double>(size - 52) / 12));
    const std::string bytes = map ? MapBytes(side, side, static_cast<uint32_t>(i))
                                  : WavBytes(static_cast<int>((size - 44) / 2), 200.0 + rng() % 800, static_cast<uint32_t>(i));
    WriteFileAtomic(dir + (map ? "/Map/" : "/Wav/") + std::to_string(i) + (map ? ".map" : ".wav"), bytes);
    total += bytes.size();
  }
  std::printf("generated %zu bytes in %s\n", total, dir.c_str());
  return 0;
}

int Load(const std::string& dir, unsigned threads) {
  InitSharedState();
  g_sSearchDir = dir;
  uint64_t input = 0;
  for (const char* sub : {"/Map", "/Wav"}) {
    for (const std::string& name : ListFiles(dir + sub)) {
      const std::string path = dir + sub + "/" + name;
      (sub[1] == 'M' ? g_MapList : g_WavList).push_back(path);
      input += static_cast<uint64_t>(FileSizeOf(path));
    }
  }
  TGameLib lib(true, OperatorLog());
  lib.SetLoadThreads(threads);
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  const TPassReport report = lib.LoadGameLib(LoadListsOfSettings());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Processor time over wall time: how many cores the pass kept busy, whatever else the machine ran.
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  g_ErrorList.Drain();
  std::printf("pass (%u threads): %llu bytes in, %llu bytes held, %.2f cores busy, %.3f s, %.1f MB/s\n",
              OrderedWorkThreads(threads), static_cast<unsigned long long>(input), static_cast<unsigned long long>(report.StoredBytes()),
              cpu / seconds, seconds, static_cast<double>(input) / 1048576.0 / seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "generate" && argc == 4) return Generate(argv[2], std::strtoul(argv[3], nullptr, 10));
  if (mode == "load" && (argc == 3 || argc == 4)) {
    return Load(argv[2], argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 0);
  }
  std::fprintf(stderr, "usage: %s generate DIR MEGABYTES | load DIR [THREADS]\n", argv[0]);
  return 2;
}
