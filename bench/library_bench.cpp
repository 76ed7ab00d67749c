// GetWClientImage on one library: entries of 4 KiB and 64 KiB, from 1 and from 32 threads at once
// (the HTTP front end's worker count). Every read takes the library's lock, so the 32-thread
// figures show how much that lock serialises.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "support/LibraryWriter.h"
#include "formats/WIL.h"
#include "platform/FileSystem.h"
#include "platform/ReadFile.h"
#include "support/TempDir.h"

namespace {

constexpr int32_t kImages = 64;

enum class TKind { Wzl, Jpk };

// One library per kind and entry size, made once and shared by every thread.
TWMImages& Library(TKind kind, size_t entrySize) {
  static std::mutex lock;
  static TempDir dir(false);
  static std::map<std::pair<TKind, size_t>, std::unique_ptr<TWMImages>> libraries;
  std::lock_guard guard(lock);
  std::unique_ptr<TWMImages>& lib = libraries[{kind, entrySize}];
  if (!lib) {
    TLibDesc desc;
    for (uint32_t i = 0; i < kImages; ++i) desc.Images.push_back(PackedImage(64, 32, entrySize, i));
    const std::string name = dir.PathOf(std::to_string(entrySize) + (kind == TKind::Jpk ? ".jpk" : ".wzl"));
    if (kind == TKind::Jpk) {
      WriteFileAtomic(name, JpkLibraryBytes(desc, TJpkVersion::V2, "pw").Bytes);
    } else {
      WriteWzlLibrary(name, WzlLibraryBytes(desc));
    }
    lib = InitializeGameImage(name, "pw", true);
  }
  return *lib;
}

void ReadImages(benchmark::State& state, TKind kind) {
  const size_t entrySize = static_cast<size_t>(state.range(0));
  TWMImages& lib = Library(kind, entrySize);
  std::string buffer;
  int32_t i = state.thread_index();
  for (auto _ : state) {
    std::optional<TWImage> rec = lib.GetWClientImage(buffer, i++ % kImages);
    benchmark::DoNotOptimize(rec);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * entrySize));
}

void BM_JpkGetWClientImage(benchmark::State& state) { ReadImages(state, TKind::Jpk); }
void BM_WzlGetWClientImage(benchmark::State& state) { ReadImages(state, TKind::Wzl); }

BENCHMARK(BM_JpkGetWClientImage)->Arg(4096)->Arg(65536)->Threads(1)->Threads(32)->UseRealTime();
BENCHMARK(BM_WzlGetWClientImage)->Arg(4096)->Arg(65536)->Threads(1)->Threads(32)->UseRealTime();

// Opening a version-2 JPK library held in memory: the index is read and every entry's digest text
// goes into the hashed list, as in the server's load pass.
void BM_JpkV2Open(benchmark::State& state) {
  const auto entries = static_cast<uint32_t>(state.range(0));
  TLibDesc desc;
  for (uint32_t i = 0; i < entries; ++i) desc.Images.push_back(PackedImage(4, 4, 64, i));
  TMemoryFiles files;
  files.Put("lib/a.jpk", JpkLibraryBytes(desc, TJpkVersion::V2, "pw").Bytes);
  for (auto _ : state) {
    std::unique_ptr<TWMImages> lib = InitializeGameImage("lib/a.jpk", "pw", true, files);
    benchmark::DoNotOptimize(lib);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * entries));
}

BENCHMARK(BM_JpkV2Open)->Arg(1000)->Arg(50000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
