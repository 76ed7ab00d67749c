#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "formats/Jpk.h"
#include "support/LibraryWriter.h"
#include "formats/MD5.h"
#include "platform/FileSystem.h"
#include "support/LibraryFixture.h"
#include "platform/ReadFile.h"
#include "support/TempDir.h"
#include "support/FixtureBytes.h"

namespace {

const std::string kPass = "418K7_p2593";

// The library file lives in memory under a path of `dir`, where the debug file goes.
std::unique_ptr<TJpkLib> Open(const TempDir& dir, TMemoryFiles& files, const std::string& bytes,
                              const std::string& password = kPass) {
  files.Put(dir.PathOf("lib.jpk"), bytes);
  std::unique_ptr<TWMImages> lib = InitializeGameImage(dir.PathOf("lib.jpk"), password, true, files);
  return std::unique_ptr<TJpkLib>(dynamic_cast<TJpkLib*>(lib.release()));
}

std::optional<std::string> Record(TWMImages& lib, int32_t nIndex, std::string& buffer) {
  std::optional<TWImage> rec = lib.GetWClientImage(buffer, nIndex);
  return rec ? std::optional<std::string>(RecordBytes(*rec)) : std::nullopt;
}

// The stored index starts where the writer put it: after the entries, at the end of the file.
std::string IndexBytes(const TJpkFile& f, size_t entrySize) {
  return f.Bytes.substr(f.Bytes.size() - entrySize * f.Positions.size());
}

class JpkVersions : public ::testing::TestWithParam<TJpkVersion> {};

TEST_P(JpkVersions, HeaderBlockAndEveryRecordForm) {
  const bool v2 = GetParam() == TJpkVersion::V2;
  const size_t entrySize = v2 ? 20 : 4;
  const int32_t mode = v2 ? 4 : 3;
  TempDir dir;
  TMemoryFiles files;
  TLibDesc desc;
  desc.Images.push_back(PackedImage(30, 10, 300, 1));
  desc.Images.back().Filler = 0x5A;  // alignment bytes reach the client as stored
  desc.Images.back().Alpha = true;
  desc.Images.back().Zip = 1;
  desc.Images.push_back(ImageAt(0));
  desc.Images.push_back(ImageAt(19));
  desc.Images.push_back(ImageAt(20));  // inside the header: bytes made zero below
  desc.Images.push_back(PackedImage(9, 0, 12, 2));
  desc.Images.push_back(PackedImage(4, 4, 0, 3));  // dimensions but no bytes
  desc.Images.push_back(PackedImage(1, 1, 1, 4));
  desc.Images.push_back(ImageAt(INT32_MIN));  // stored 2^31: counts as negative
  TJpkFile f = JpkLibraryBytes(desc, GetParam(), kPass);
  // Bytes 20..39 are title padding past the title's length, not examined.
  f.Bytes.replace(20, 20, std::string(20, '\0'));
  auto lib = Open(dir, files, f.Bytes);
  ASSERT_TRUE(lib);
  ASSERT_TRUE(lib->PasswordOk());
  EXPECT_TRUE(lib->Initized());
  EXPECT_EQ(static_cast<int32_t>(lib->ImageMode()), mode);
  EXPECT_EQ(lib->IndexLength(), static_cast<int32_t>(entrySize));
  EXPECT_EQ(lib->ImageCount(), 8);
  EXPECT_EQ(lib->CacheSlotCount(), 0u);  // work mode keeps no slots
  EXPECT_EQ(lib->HashTable().Count(), v2 ? 8 : 0);
  const std::string index = IndexBytes(f, entrySize);
  EXPECT_EQ(lib->IndexesHash(), MD5Print(MD5String(index)));

  const std::string plainHeader = EncipherJpkHeader(f.Bytes.substr(0, 80), kPass);
  EXPECT_EQ(plainHeader.substr(1, 7), "GameLib");
  std::optional<std::string> block = lib->GetWClientHeader();
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), 88 + entrySize * 8);
  EXPECT_EQ(*block, LE32(static_cast<uint32_t>(mode)) + LE32(220112) + plainHeader + index);

  auto stored = [&](int i) { return f.Bytes.substr(static_cast<size_t>(f.Positions[static_cast<size_t>(i)]), 20); };
  auto pos = [&](int i) { return f.Positions[static_cast<size_t>(i)]; };
  const std::vector<std::string> expected = {
      FullRecordBytes(mode, 0, stored(0), desc.Images[0].Data, pos(0)),
      AbsentRecordBytes(mode, 0),
      AbsentRecordBytes(mode, 19),
      EmptyRecordBytes(mode, std::string(20, '\0'), 20),
      EmptyRecordBytes(mode, stored(4), pos(4)),
      FullRecordBytes(mode, 5, stored(5), "", pos(5)),
      FullRecordBytes(mode, 6, stored(6), desc.Images[6].Data, pos(6)),
      AbsentRecordBytes(mode, INT32_MIN),
  };
  for (int32_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    std::string buffer = "stale";
    std::optional<std::string> rec = Record(*lib, i, buffer);
    ASSERT_TRUE(rec);
    EXPECT_EQ(*rec, expected[static_cast<size_t>(i)]);
    EXPECT_EQ(buffer, (i == 0 || i == 6) ? desc.Images[static_cast<size_t>(i)].Data : "");
  }
  std::string buffer;
  EXPECT_EQ(Record(*lib, 5, buffer)->substr(44, 4), LE32(0xFFFFFFFF));  // CRC of no bytes
  EXPECT_FALSE(Record(*lib, 8, buffer));
  EXPECT_FALSE(Record(*lib, -1, buffer));
  EXPECT_EQ(dir.ReadFile(kDebugFileName), "");
}

INSTANTIATE_TEST_SUITE_P(BothVersions, JpkVersions,
                         ::testing::Values(TJpkVersion::V1, TJpkVersion::V2));

TEST(JpkLibrary, PasswordAndVersionFromTheTitle) {
  struct TCase {
    std::string title;
    std::optional<uint8_t> titleLen;
    TJpkVersion version;
    std::string writtenWith;
    std::string openedWith;
    bool ok;
    TImageMode mode;
  };
  const std::string title40 = std::string(33, 'x') + "GameLib";
  const std::vector<TCase> cases = {
      {"", {}, TJpkVersion::V1, kPass, kPass, true, TImageMode::Tarn2Jpk},
      {"", {}, TJpkVersion::V2, kPass, kPass, true, TImageMode::Tarn2Jpkv2},
      {"Old GameLib pack", {}, TJpkVersion::V1, kPass, kPass, true, TImageMode::Tarn2Jpk},
      {"pack GameLib v2.0 x", {}, TJpkVersion::V2, kPass, kPass, true, TImageMode::Tarn2Jpkv2},
      {"GameLib v2.1", {}, TJpkVersion::V1, kPass, kPass, true, TImageMode::Tarn2Jpk},
      {title40, {}, TJpkVersion::V1, kPass, kPass, true, TImageMode::Tarn2Jpk},
      {"GameLib", 200, TJpkVersion::V1, kPass, kPass, true, TImageMode::Tarn2Jpk},  // read as 40
      {"GameLib", 3, TJpkVersion::V1, kPass, kPass, false, TImageMode::Tarn2Jpk},   // "Gam"
      {"Game Lib", {}, TJpkVersion::V1, kPass, kPass, false, TImageMode::Tarn2Jpk},
      {"", {}, TJpkVersion::V1, kPass, "wrong", false, TImageMode::Tarn2Jpk},
      {"", {}, TJpkVersion::V1, kPass, "", false, TImageMode::Tarn2Jpk},
      {"", {}, TJpkVersion::V1, "", "", false, TImageMode::Tarn2Jpk},  // header left plain
      {"", {}, TJpkVersion::V1, "密码", "密码", true, TImageMode::Tarn2Jpk},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.title + " / " + c.openedWith);
    TempDir dir;
    TMemoryFiles files;
    TLibDesc desc;
    desc.Title = c.title;
    desc.TitleLen = c.titleLen;
    desc.Images.push_back(PackedImage(2, 2, 64, 1));
    auto lib = Open(dir, files, JpkLibraryBytes(desc, c.version, c.writtenWith).Bytes, c.openedWith);
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->PasswordOk(), c.ok);
    EXPECT_EQ(lib->Initized(), c.ok);
    EXPECT_EQ(lib->ImageMode(), c.mode);
    EXPECT_EQ(lib->ImageCount(), c.ok ? 1 : 0);
    std::string buffer;
    EXPECT_EQ(lib->GetWClientImage(buffer, 0).has_value(), c.ok);
    if (!c.ok) {
      EXPECT_EQ(lib->IndexesHash(), "");
    }
  }

  // Past 40 characters lie the header's other fields, never title text.
  TempDir dir;
  TMemoryFiles files;
  TLibDesc desc;
  desc.Title = "abc";
  desc.TitleLen = 200;
  std::string plain = EncipherJpkHeader(JpkLibraryBytes(desc, TJpkVersion::V1, kPass).Bytes, kPass);
  plain.replace(41, 7, "GameLib");  // alignment and the uninterpreted Size field
  EXPECT_FALSE(Open(dir, files, EncipherJpkHeader(plain, kPass))->PasswordOk());
}

TEST(JpkLibrary, CorruptEntriesGiveNoRecordAndAreReportedOnce) {
  TempDir dir;
  TMemoryFiles files;
  TLibDesc desc;
  desc.Images.push_back(PackedImage(2, 2, 10, 1));
  desc.Images.back().StoredLength = -5;
  desc.Images.push_back(PackedImage(2, 2, 10, 2));
  desc.Images.back().StoredLength = 1000000;  // past the end of the file
  desc.Images.push_back(ImageAt(5000000));     // entry header beyond the end: a short read
  desc.Images.push_back(PackedImage(2, 2, 10, 3));
  const TJpkFile f = JpkLibraryBytes(desc, TJpkVersion::V2, kPass);
  auto lib = Open(dir, files, f.Bytes);
  ASSERT_TRUE(lib && lib->PasswordOk());
  std::string buffer;
  for (int round = 0; round < 3; ++round) {
    EXPECT_FALSE(Record(*lib, 0, buffer));
    EXPECT_FALSE(Record(*lib, 1, buffer));
    EXPECT_FALSE(Record(*lib, 2, buffer));
    EXPECT_EQ(buffer, "");
  }
  EXPECT_TRUE(Record(*lib, 3, buffer));
  EXPECT_EQ(buffer, desc.Images[3].Data);
  const std::string log = dir.ReadFile(kDebugFileName);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
  for (int i : {0, 1, 2})
    EXPECT_NE(log.find(" TWMImages.GetWClientImage " + std::to_string(i) + " "), std::string::npos) << log;

  // With the debug file turned off a fresh library reports nothing, and later ones report again.
  SetDebugFileEnabled(false);
  auto quiet = Open(dir, files, f.Bytes);
  EXPECT_FALSE(Record(*quiet, 0, buffer));
  SetDebugFileEnabled(true);
  EXPECT_EQ(dir.ReadFile(kDebugFileName), log);
  EXPECT_FALSE(Record(*quiet, 1, buffer));
  EXPECT_NE(dir.ReadFile(kDebugFileName), log);
}

TEST(JpkLibrary, ImageCountIsReadAsTheEntriesTheFileHolds) {
  struct TCase {
    int64_t stored;
    uint32_t indexOffSetDelta;  // added to the stored index position
    int32_t count;
    bool reported;
  };
  const std::vector<TCase> cases = {
      {3, 0, 3, false},          {0, 0, 0, false},        {1000000000, 0, 3, true},
      {0xFFFFFFF0LL, 0, 3, true}, {3, 20, 2, true},       {3, 1u << 31, 0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.stored);
    TempDir dir;
    TMemoryFiles files;
    TLibDesc desc;
    for (uint32_t i = 0; i < 3; ++i) desc.Images.push_back(PackedImage(4, 4, 32, i));
    desc.ImageCount = c.stored;
    TJpkFile f = JpkLibraryBytes(desc, TJpkVersion::V2, kPass);
    std::string plain = EncipherJpkHeader(f.Bytes, kPass);
    uint32_t indexOffSet = 0;
    for (int i = 0; i < 4; ++i) indexOffSet |= uint32_t{static_cast<uint8_t>(plain[52 + i])} << (8 * i);
    plain.replace(52, 4, LE32(indexOffSet + c.indexOffSetDelta));
    auto lib = Open(dir, files, EncipherJpkHeader(plain, kPass));
    ASSERT_TRUE(lib && lib->PasswordOk());
    EXPECT_EQ(lib->ImageCount(), c.count);
    EXPECT_EQ(lib->GetWClientHeader()->size(), 88 + 20 * static_cast<size_t>(c.count));
    EXPECT_EQ(lib->IndexesHash().empty(), c.count == 0);
    std::string buffer;
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(Record(*lib, i, buffer).has_value(), i < c.count);
    EXPECT_EQ(dir.ReadFile(kDebugFileName).empty(), !c.reported);
  }
}

}  // namespace
