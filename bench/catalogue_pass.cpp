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

#include "catalogue/OrderedWork.h"
#include "catalogue/uGameLib.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"

namespace {

// A map: a small header, then cells of tiles that repeat in runs, as real maps do.
std::string MapBytes(size_t size, std::mt19937& rng) {
  std::string out = "MAP1";
  uint16_t tile = 0;
  while (out.size() < size) {
    if (rng() % 7 == 0) tile = static_cast<uint16_t>(rng() % 400);
    const uint8_t cell[12] = {static_cast<uint8_t>(tile), static_cast<uint8_t>(tile >> 8), 0, 0,
                              static_cast<uint8_t>(rng() % 3), 0, 0, 0, 0, 0,
                              static_cast<uint8_t>(rng() % 16 == 0), 0};
    out.append(reinterpret_cast<const char*>(cell), sizeof cell);
  }
  out.resize(size);
  return out;
}

// A wav: a RIFF header, then 16-bit samples of a tone with noise.
std::string WavBytes(size_t size, std::mt19937& rng) {
  std::string out = "RIFF....WAVEfmt ";
  out.resize(44, '\0');
  const double freq = 200.0 + rng() % 800;
  for (size_t i = 0; out.size() < size; ++i) {
    const double v = 8000.0 * std::sin(2 * M_PI * freq * static_cast<double>(i) / 22050.0) +
                     static_cast<double>(static_cast<int>(rng() % 512) - 256);
    const auto s = static_cast<int16_t>(v);
    out += static_cast<char>(s & 0xFF);
    out += static_cast<char>((s >> 8) & 0xFF);
  }
  out.resize(size);
  return out;
}

int Generate(const std::string& dir, size_t megabytes) {
  ForceDirectories(dir + "/Map");
  ForceDirectories(dir + "/Wav");
  std::mt19937 rng(42);
  size_t total = 0;
  for (int i = 0; total < megabytes << 20; ++i) {
    const bool map = i % 2 == 0;
    const size_t size = (1u << 20) + rng() % (3u << 20);
    const std::string bytes = map ? MapBytes(size, rng) : WavBytes(size, rng);
    WriteFileAtomic(dir + (map ? "/Map/" : "/Wav/") + std::to_string(i) + (map ? ".map" : ".wav"), bytes);
    total += size;
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
  TGameLib lib(true);
  lib.SetLoadThreads(threads);
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  lib.LoadGameLib(CurrentLoadLists());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Processor time over wall time: how many cores the pass kept busy, whatever else the machine ran.
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  g_ErrorList.Drain();
  std::printf("pass (%u threads): %llu bytes in, %llu bytes held, %.2f cores busy, %.3f s, %.1f MB/s\n",
              OrderedWorkThreads(threads), static_cast<unsigned long long>(input), static_cast<unsigned long long>(g_nDataMemory.load()),
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
