#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/LibraryWriter.h"
#include "formats/MD5.h"
#include "formats/Wzl.h"
#include "platform/FileSystem.h"
#include "support/LibraryFixture.h"
#include "platform/ReadFile.h"
#include "support/TempDir.h"
#include "support/FixtureBytes.h"

namespace {

// The library files live in memory under paths of `dir`, where the debug file goes.
std::unique_ptr<TWMImages> Open(const TempDir& dir, TMemoryFiles& files, const TWzlFiles& f,
                                const std::string& name = "hum.wzl") {
  files.Put(dir.PathOf(name), f.Wzl);
  files.Put(dir.PathOf(name.substr(0, name.rfind('.')) + ".wzx"), f.Wzx);
  return InitializeGameImage(dir.PathOf(name), "", true, files);
}

struct TRead {
  std::optional<std::string> Record;
  std::string Buffer;
};

TRead Read(TWMImages& lib, int32_t nIndex) {
  TRead r;
  if (std::optional<TWImage> rec = lib.GetWClientImage(r.Buffer, nIndex)) r.Record = RecordBytes(*rec);
  return r;
}

// The three record forms of a WZL library, from the files as written.
std::string Absent() { return AbsentRecordBytes(1, 0); }
std::string Empty(const TWzlFiles& f, int32_t i) {
  const int32_t pos = f.Positions[static_cast<size_t>(i)];
  return EmptyRecordBytes(1, f.Wzl.substr(static_cast<size_t>(pos), 16), pos);
}
std::string Full(const TWzlFiles& f, int32_t i, const std::string& data) {
  const int32_t pos = f.Positions[static_cast<size_t>(i)];
  return FullRecordBytes(1, i, f.Wzl.substr(static_cast<size_t>(pos), 16), data, pos);
}

TEST(WzlLibrary, HeaderBlockAndEveryRecordForm) {
  TempDir dir;
  TMemoryFiles files;
  TLibDesc desc;
  desc.Images.push_back(UnpackedImage(3, 2, 5, 1));  // rows of 8 bytes: 16
  desc.Images.back().Filler = 0xA5;                   // unused header bytes reach the client as stored
  desc.Images.push_back(UnpackedImage(3, 2, 3, 2));  // rows of 4 bytes: 8
  desc.Images.push_back(PackedImage(10, 10, 1000, 3));
  desc.Images.back().BitMode = 5;
  desc.Images.push_back(ImageAt(0));
  desc.Images.push_back(ImageAt(15));
  desc.Images.push_back(ImageAt(16));  // inside the data file's header, whose bytes there are zero
  desc.Images.push_back(PackedImage(0, 5, 40, 4));
  desc.Images.back().Px = 7;
  desc.Images.push_back(PackedImage(5, 0, 40, 5));
  desc.Images.push_back(UnpackedImage(1, 1, 8, 6));
  desc.Images.back().Px = -3;
  desc.Images.back().Py = -300;
  const TWzlFiles f = WzlLibraryBytes(desc);
  auto lib = Open(dir, files, f);
  ASSERT_TRUE(lib);
  EXPECT_EQ(lib->ImageMode(), TImageMode::Tarn2Wzl);
  EXPECT_EQ(lib->ImageCount(), 9);
  EXPECT_EQ(lib->CacheSlotCount(), 9u);
  EXPECT_EQ(lib->IndexesHash(), MD5Print(MD5String(f.Wzx.substr(48))));
  EXPECT_EQ(lib->FileSize(), f.Wzl.size());

  std::optional<std::string> block = lib->GetWClientHeader();
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), 72 + 48 + 4 * 9u);
  EXPECT_EQ(*block, LE32(1) + LE32(220112) + f.Wzl.substr(0, 64) + f.Wzx);

  const std::vector<std::string> expected = {
      Full(f, 0, desc.Images[0].Data), Full(f, 1, desc.Images[1].Data), Full(f, 2, desc.Images[2].Data),
      Absent(), Absent(), Empty(f, 5), Empty(f, 6), Empty(f, 7), Full(f, 8, desc.Images[8].Data)};
  for (int32_t i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    TRead r = Read(*lib, i);
    ASSERT_TRUE(r.Record);
    EXPECT_EQ(*r.Record, expected[static_cast<size_t>(i)]);
    const bool full = (i <= 2 || i == 8);
    EXPECT_EQ(r.Buffer, full ? desc.Images[static_cast<size_t>(i)].Data : "");
  }
  EXPECT_EQ(Read(*lib, 0).Buffer.size(), 16u);
  EXPECT_EQ(Read(*lib, 1).Buffer.size(), 8u);
  EXPECT_EQ(Read(*lib, 5).Record->substr(56, 4), LE32(16));  // 16 is an entry, 15 is not
  EXPECT_FALSE(Read(*lib, -1).Record);
  EXPECT_FALSE(Read(*lib, 9).Record);
  EXPECT_EQ(dir.ReadFile(kDebugFileName), "");
}

TEST(WzlLibrary, CorruptEntriesGiveNoRecordAndAreReportedOnce) {
  TempDir dir;
  TMemoryFiles files;
  TLibDesc desc;
  desc.Images.push_back(UnpackedImage(2, 2, 8, 1));
  desc.Images.push_back(UnpackedImage(5, 2, 8, 2));
  desc.Images.back().Height = -3;  // negative data length
  desc.Images.push_back(PackedImage(4, 4, 10, 3));
  desc.Images.back().StoredLength = 0x80000000LL;  // no int32 length
  desc.Images.push_back(ImageAt(1000000));          // entry header beyond the end: a short read
  desc.Images.push_back(PackedImage(4, 4, 100, 4));
  desc.Images.back().StoredLength = 500;  // runs past the end of the file
  const TWzlFiles f = WzlLibraryBytes(desc);
  auto lib = Open(dir, files, f);
  ASSERT_TRUE(lib);

  EXPECT_EQ(*Read(*lib, 0).Record, Full(f, 0, desc.Images[0].Data));
  for (int round = 0; round < 3; ++round) {
    for (int32_t i : {1, 2, 3, 4}) {
      TRead r = Read(*lib, i);
      EXPECT_FALSE(r.Record) << i;
      EXPECT_EQ(r.Buffer, "") << i;
    }
  }
  const std::string log = dir.ReadFile(kDebugFileName);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
  for (int i : {1, 2, 3, 4})
    EXPECT_NE(log.find(dir.PathOf("hum.wzl") + " TWMImages.GetWClientImage " + std::to_string(i) + " "),
              std::string::npos) << log;
}

TEST(WzlLibrary, ImageCountIsReadAsTheEntriesTheIndexHolds) {
  struct TCase {
    int64_t stored;
    size_t wzxCut;  // bytes cut off the end of the index file
    int32_t count;
    bool reported;
  };
  const std::vector<TCase> cases = {
      {3, 0, 3, false},  {2, 0, 2, false},         {5, 0, 3, true},
      {-1, 0, 3, true},  {0x7FFFFFFF, 0, 3, true}, {3, 2, 2, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.stored);
    TempDir dir;
    TMemoryFiles files;
    TLibDesc desc;
    for (uint32_t i = 0; i < 3; ++i) desc.Images.push_back(UnpackedImage(4, 4, 8, i));
    desc.ImageCount = c.stored;
    TWzlFiles f = WzlLibraryBytes(desc);
    f.Wzx.resize(f.Wzx.size() - c.wzxCut);
    auto lib = Open(dir, files, f);
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->ImageCount(), c.count);
    EXPECT_EQ(lib->CacheSlotCount(), static_cast<size_t>(c.count));
    EXPECT_EQ(lib->IndexesHash(), MD5Print(MD5String(f.Wzx.substr(48, 4 * static_cast<size_t>(c.count)))));
    EXPECT_EQ(lib->GetWClientHeader()->size(), 72 + f.Wzx.size());
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(Read(*lib, i).Record.has_value(), i < c.count);
    EXPECT_EQ(dir.ReadFile(kDebugFileName).empty(), !c.reported);
  }
}

TEST(WzlLibrary, IndexFile) {
  TempDir dir;
  TMemoryFiles files;
  TLibDesc desc;
  desc.Images.push_back(UnpackedImage(4, 4, 8, 1));
  const TWzlFiles f = WzlLibraryBytes(desc);

  // Missing: the library serves nothing.
  files.Put(dir.PathOf("a.wzl"), f.Wzl);
  auto lib = InitializeGameImage(dir.PathOf("a.wzl"), "", true, files);
  ASSERT_TRUE(lib);
  EXPECT_EQ(lib->ImageMode(), TImageMode::Tarn2Wzl);
  EXPECT_EQ(lib->ImageCount(), 0);
  EXPECT_EQ(lib->IndexesHash(), "");
  EXPECT_FALSE(lib->GetWClientHeader());
  EXPECT_FALSE(Read(*lib, 0).Record);

  // Found without regard to case, as copied from Windows.
  files.Put(dir.PathOf("Hum.wzl"), f.Wzl);
  files.Put(dir.PathOf("HUM.WZX"), f.Wzx);
  lib = InitializeGameImage(dir.PathOf("Hum.wzl"), "", true, files);
  EXPECT_EQ(lib->IndexFileName(), dir.PathOf("HUM.WZX"));
  EXPECT_EQ(*Read(*lib, 0).Record, Full(f, 0, desc.Images[0].Data));

  // The header block shows the index file as it is now.
  const std::string replaced = f.Wzx + "tail";
  files.Put(dir.PathOf("HUM.WZX"), replaced);
  EXPECT_EQ(lib->GetWClientHeader()->substr(72), replaced);

  // No images: the digest of no bytes.
  desc.Images.clear();
  const TWzlFiles none = WzlLibraryBytes(desc);
  lib = Open(dir, files, none, "none.wzl");
  EXPECT_EQ(lib->IndexesHash(), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(lib->GetWClientHeader()->size(), 72 + 48u);
}

TEST(WzlLibrary, InitializeRules) {
  TempDir dir;
  TTarn2Wzl unnamed;
  EXPECT_THROW(unnamed.Initialize(), EInOutError);

  TTarn2Wzl missing;
  missing.SetFileName(dir.PathOf("gone.wzl"));
  missing.Initialize();
  EXPECT_TRUE(missing.Initized());
  EXPECT_EQ(missing.ImageMode(), TImageMode::Tarn2Wil);
  EXPECT_EQ(missing.IndexFileName(), "");
  EXPECT_FALSE(missing.GetWClientHeader());

  TLibDesc desc;
  desc.Images.push_back(UnpackedImage(4, 4, 8, 1));
  WriteWzlLibrary(dir.PathOf("hum.wzl"), WzlLibraryBytes(desc));
  TTarn2Wzl lib;
  lib.SetFileName(dir.PathOf("hum.wzl"));
  lib.Initialize();
  ASSERT_TRUE(lib.Initized());
  lib.Initialize();  // a second call closes the file and keeps the index
  EXPECT_FALSE(lib.Initized());
  EXPECT_EQ(lib.FileSize(), 0u);
  EXPECT_EQ(lib.ImageCount(), 1);
  lib.Initialize();
  std::string buffer;
  EXPECT_TRUE(lib.GetWClientImage(buffer, 0));
  EXPECT_EQ(buffer, desc.Images[0].Data);
}

}  // namespace
