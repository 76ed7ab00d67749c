// The browser console's resource view: a pass report in the file rules view's words, with what the
// catalogue holds now.
#include "app/AdminResources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/uGameLib.h"
#include "support/DemoData.h"
#include "support/SharedStateTest.h"

namespace {

namespace fs = std::filesystem;

class AdminResourcesTest : public SharedStateTest {};

TEST_F(AdminResourcesTest, EveryEntryWithItsStateSizeAndHashThenUnloaded) {
  const TDemoData demo = WriteDemoData(dir_.Path(), 0);
  TLoadLists lists;
  lists.SearchDir = demo.ClientDir;
  std::string jpk, password;
  for (const auto& lib : demo.Libraries) {
    if (lib.PassWord.empty()) {
      lists.Wzl.push_back(lib.Path);
    } else {
      lists.Jpk.emplace_back(lib.Path, lib.PassWord);
      jpk = lib.Path;
      password = lib.PassWord;
    }
  }
  const std::string locked = fs::path(jpk).parent_path().string() + "/locked.jpk";
  fs::copy_file(jpk, locked);
  lists.Jpk.emplace_back(locked, "not-the-password");
  lists.Jpk.emplace_back(demo.ClientDir + "/Data/missing.jpk", password);
  lists.Maps.push_back(demo.Maps.front().Path);
  lists.Wavs.push_back(demo.Wavs.front().Path);

  TGameLib lib(true);
  const TPassReport report = lib.LoadGameLib(lists);
  std::vector<TResourceRow> rows = ResourceRows(report, lib);
  ASSERT_EQ(rows.size(), report.Entries.size());
  size_t held = 0;
  for (const TResourceRow& r : rows) {
    SCOPED_TRACE(r.Path);
    if (r.Path == locked) {
      EXPECT_EQ(r.State, "密码错误");
    } else if (r.Path.find("missing.jpk") != std::string::npos) {
      EXPECT_EQ(r.State, "文件不存在");
    } else {
      EXPECT_EQ(r.State, "正常");
      EXPECT_TRUE(r.Stored);
      EXPECT_GT(r.Size, 0);
      EXPECT_EQ(r.Hash.size(), std::string(r.List) == "jpk" ? 32u : 0u) << r.List;
      ++held;
      continue;
    }
    EXPECT_FALSE(r.Stored);
    EXPECT_EQ(r.Size, -1);
    EXPECT_TRUE(r.Hash.empty());
  }
  EXPECT_EQ(held, rows.size() - 2);
  EXPECT_EQ(std::string(rows.front().List), "jpk");
  EXPECT_EQ(std::string(rows.back().List), "wav");

  // The catalogue emptied: what the pass stored is no longer held.
  lib.Clear();
  rows = ResourceRows(report, lib);
  for (const TResourceRow& r : rows) {
    if (r.Stored) {
      EXPECT_EQ(r.State, "已卸载") << r.Path;
      EXPECT_TRUE(r.Hash.empty());
    }
  }
}

}  // namespace
