// 32 threads read random entries of one library at once, as the HTTP workers do; every payload must
// be the stored one. Meant to run under ThreadSanitizer too, so the rounds stay small.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/LibraryWriter.h"
#include "formats/WIL.h"
#include "platform/FileSystem.h"
#include "support/LibraryFixture.h"
#include "support/TempDir.h"

namespace {

constexpr int kThreads = 32;
constexpr int kReadsPerThread = 400;
constexpr int kImages = 120;

// Absent, empty, corrupt and full entries of many sizes.
TLibDesc MixedLibrary() {
  TLibDesc desc;
  for (uint32_t i = 0; i < kImages; ++i) {
    switch (i % 10) {
      case 0: desc.Images.push_back(ImageAt(0)); break;
      case 1: desc.Images.push_back(PackedImage(8, 0, 0, i)); break;
      case 9:
        desc.Images.push_back(PackedImage(8, 8, 4, i));
        desc.Images.back().StoredLength = 1 << 30;
        break;
      default: desc.Images.push_back(PackedImage(8, 8, (i * 137) % 16384, i)); break;
    }
  }
  return desc;
}

// The payload a client must get for every image ("" for no record): record bytes, then data.
std::vector<std::string> ExpectedPayloads(const TLibDesc& desc, const std::string& file,
                                          const std::vector<int32_t>& positions, int32_t nType,
                                          size_t headerSize) {
  std::vector<std::string> out;
  for (size_t i = 0; i < desc.Images.size(); ++i) {
    const int32_t pos = positions[i];
    const std::string stored = file.substr(static_cast<size_t>(pos), headerSize);
    switch (i % 10) {
      case 0: out.push_back(AbsentRecordBytes(nType, 0)); break;
      case 1: out.push_back(EmptyRecordBytes(nType, stored, pos)); break;
      case 9: out.emplace_back(); break;
      default:
        out.push_back(FullRecordBytes(nType, static_cast<int32_t>(i), stored, desc.Images[i].Data, pos) +
                      desc.Images[i].Data);
    }
  }
  return out;
}

void ReadFromManyThreads(TWMImages& lib, const std::vector<std::string>& expected) {
  const std::optional<std::string> header = lib.GetWClientHeader();
  ASSERT_TRUE(header);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<uint32_t>(t));
      std::string buffer;
      for (int n = 0; n < kReadsPerThread; ++n) {
        const int32_t i = static_cast<int32_t>(rng() % expected.size());
        std::optional<TWImage> rec = lib.GetWClientImage(buffer, i);
        const std::string payload = rec ? RecordBytes(*rec) + buffer : std::string();
        if (payload != expected[static_cast<size_t>(i)]) ++wrong;
        if (n % 64 == 0 && lib.GetWClientHeader() != header) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(LibraryStress, JpkEntriesFromManyThreads) {
  TempDir dir;
  const TLibDesc desc = MixedLibrary();
  const TJpkFile f = JpkLibraryBytes(desc, TJpkVersion::V2, "pw");
  WriteFileAtomic(dir.PathOf("a.jpk"), f.Bytes);
  std::unique_ptr<TWMImages> lib = InitializeGameImage(dir.PathOf("a.jpk"), "pw", true);
  ASSERT_TRUE(lib);
  ReadFromManyThreads(*lib, ExpectedPayloads(desc, f.Bytes, f.Positions, 4, 20));
}

TEST(LibraryStress, WzlEntriesFromManyThreads) {
  TempDir dir;
  const TLibDesc desc = MixedLibrary();
  const TWzlFiles f = WzlLibraryBytes(desc);
  WriteWzlLibrary(dir.PathOf("a.wzl"), f);
  std::unique_ptr<TWMImages> lib = InitializeGameImage(dir.PathOf("a.wzl"), "", true);
  ASSERT_TRUE(lib);
  ReadFromManyThreads(*lib, ExpectedPayloads(desc, f.Wzl, f.Positions, 1, 16));
}

}  // namespace
