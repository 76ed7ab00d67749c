#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "formats/Jpk.h"
#include "support/LibraryWriter.h"
#include "formats/Wzl.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "support/LibraryFixture.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const std::string kPass = "pw";

TLibDesc OneImage() {
  TLibDesc desc;
  desc.Images.push_back(PackedImage(2, 2, 16, 1));
  return desc;
}

void WriteJpk(const TempDir& dir, const std::string& name) {
  WriteFileAtomic(dir.PathOf(name), JpkLibraryBytes(OneImage(), TJpkVersion::V1, kPass).Bytes);
}

void WriteWzl(const TempDir& dir, const std::string& name) {
  WriteWzlLibrary(dir.PathOf(name), WzlLibraryBytes(OneImage()));
}

TEST(LibraryFactory, ReaderByExtensionAndFallbacks) {
  struct TCase {
    std::vector<std::string> jpks, wzls, others;
    std::string asked;
    TImageMode mode;     // Tarn2Wil: nothing comes back
    std::string opened;  // file name of the library that comes back
  };
  const std::vector<TCase> cases = {
      {{"X.JPK"}, {"X.WZL"}, {}, "X", TImageMode::Tarn2Jpk, "X.JPK"},
      {{}, {"X.WZL"}, {}, "X", TImageMode::Tarn2Wzl, "X.WZL"},
      {{"x.jpk"}, {}, {}, "x", TImageMode::Tarn2Wil, ""},  // only ".JPK" is tried
      {{"X.JPK"}, {}, {"X"}, "X", TImageMode::Tarn2Wil, ""},
      {{}, {}, {"X.wzx"}, "X.wzx", TImageMode::Tarn2Wil, ""},
      {{"a.jpk"}, {}, {}, "a.jpk", TImageMode::Tarn2Jpk, "a.jpk"},
      {{"a.Jpk"}, {}, {}, "a.Jpk", TImageMode::Tarn2Jpk, "a.Jpk"},
      {{"a.JPKX"}, {}, {}, "a.JPKX", TImageMode::Tarn2Jpk, "a.JPKX"},
      {{"a.wzl.jpk"}, {}, {}, "a.wzl.jpk", TImageMode::Tarn2Jpk, "a.wzl.jpk"},
      {{}, {"b.Wzl"}, {}, "b.Wzl", TImageMode::Tarn2Wzl, "b.Wzl"},
      {{}, {}, {}, "none", TImageMode::Tarn2Wil, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.asked);
    TempDir dir;
    for (const std::string& n : c.jpks) WriteJpk(dir, n);
    for (const std::string& n : c.wzls) WriteWzl(dir, n);
    for (const std::string& n : c.others) WriteFileAtomic(dir.PathOf(n), "not a library");
    std::unique_ptr<TWMImages> lib = InitializeGameImage(dir.PathOf(c.asked), kPass, true);
    if (c.mode == TImageMode::Tarn2Wil) {
      EXPECT_FALSE(lib);
      continue;
    }
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->ImageMode(), c.mode);
    EXPECT_EQ(lib->FileName(), dir.PathOf(c.opened));
    EXPECT_TRUE(lib->WorkMode());
    if (auto* jpk = dynamic_cast<TJpkLib*>(lib.get())) {
      EXPECT_TRUE(jpk->PasswordOk());
    }
    EXPECT_EQ(lib->ImageCount(), 1);
  }
}

TEST(LibraryFactory, WrongPasswordStillGivesTheLibrary) {
  TempDir dir;
  WriteJpk(dir, "a.jpk");
  std::unique_ptr<TWMImages> lib = InitializeGameImage(dir.PathOf("a.jpk"), "other", true);
  auto* jpk = dynamic_cast<TJpkLib*>(lib.get());
  ASSERT_TRUE(jpk);
  EXPECT_FALSE(jpk->PasswordOk());
  EXPECT_EQ(jpk->PassWord(), "other");
}

TEST(LibraryFactory, ReadOnlyFilesOpenAndKeepTheirPermissions) {
  TempDir dir;
  WriteJpk(dir, "a.jpk");
  WriteWzl(dir, "b.wzl");
  const std::vector<std::string> files = {"a.jpk", "b.wzl", "b.wzx"};
  for (const std::string& n : files) fs::permissions(dir.PathOf(n), fs::perms::owner_read | fs::perms::group_read);
  for (bool workMode : {true, false}) {
    for (const char* n : {"a.jpk", "b.wzl"}) {
      std::unique_ptr<TWMImages> lib = InitializeGameImage(dir.PathOf(n), kPass, workMode);
      ASSERT_TRUE(lib) << n;
      std::string buffer;
      EXPECT_TRUE(lib->GetWClientImage(buffer, 0)) << n;
    }
  }
  for (const std::string& n : files)
    EXPECT_EQ(fs::status(dir.PathOf(n)).permissions(), fs::perms::owner_read | fs::perms::group_read) << n;
}

TEST(LibraryFactory, OpenErrorPropagatesAndLeavesNoLibrary) {
  TempDir dir;
  WriteJpk(dir, "a.jpk");
  fs::permissions(dir.PathOf("a.jpk"), fs::perms::none);
  if (std::ifstream(dir.PathOf("a.jpk")).is_open()) {
    // Rights that read any file: a write-only kernel file refuses reading all the same.
    fs::remove(dir.PathOf("a.jpk"));
    std::error_code ec;
    fs::create_symlink("/proc/sys/vm/drop_caches", dir.PathOf("a.jpk"), ec);
    if (ec || !FileExists(dir.PathOf("a.jpk")) || std::ifstream(dir.PathOf("a.jpk")).is_open())
      GTEST_SKIP() << "no file here refuses to be read";
  }
  EXPECT_THROW(InitializeGameImage(dir.PathOf("a.jpk"), kPass, true), EInOutError);
}

TEST(DebugView, AppendsOneDatedLineInTheCodePage) {
  TempDir dir;
  Debug_View("图像 one");
  Debug_View("two");
  const std::string text = dir.ReadFile(kDebugFileName);
  const std::regex line(R"(\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}:\d{2} (.*)\r\n)");
  std::smatch m;
  std::string rest = text;
  std::vector<std::string> messages;
  while (std::regex_search(rest, m, line, std::regex_constants::match_continuous)) {
    messages.push_back(m[1]);
    rest = m.suffix();
  }
  EXPECT_EQ(rest, "");
  EXPECT_EQ(messages, (std::vector<std::string>{AnsiFromUtf8("图像 one"), "two"}));
}

}  // namespace
