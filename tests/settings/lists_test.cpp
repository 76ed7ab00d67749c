#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"
#include "support/SharedStateTest.h"

namespace {

using Lines = std::vector<std::string>;
using ListsTest = SharedStateTest;

std::vector<std::pair<std::string, std::string>> JpkPairs() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const TNameValue& p : g_JpkList.Items()) out.emplace_back(p.Name, p.Value);
  return out;
}

TEST(TNameValueList, NamesAreUniqueWithoutRegardToAsciiCase) {
  TNameValueList list;
  list.SetValue("/g/A.jpk", "1");
  list.SetValue("/g/b.jpk", "2");
  list.SetValue("/G/a.JPK", "3");  // replaces in place, keeping the first spelling
  list.SetValue("/g/甲.jpk", "4");
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list[0].Name, "/g/A.jpk");
  EXPECT_EQ(list[0].Value, "3");
  EXPECT_EQ(list.IndexOfName("/G/B.JPK"), 1);
  EXPECT_EQ(list.IndexOfName("/g/c.jpk"), -1);
  list.Delete(0);
  EXPECT_EQ(list.IndexOfName("/g/a.jpk"), -1);
  EXPECT_EQ(list.IndexOfName("/g/b.jpk"), 0);
  EXPECT_EQ(list.IndexOfName("/g/甲.jpk"), 1);
  list.Delete(5);  // out of range: nothing happens
  list.SetValue("/g/A.jpk", "5");
  EXPECT_EQ(list.IndexOfName("/g/a.jpk"), 2);
  list.Clear();
  EXPECT_EQ(list.IndexOfName("/g/b.jpk"), -1);
}

TEST(JpkListLine, FieldsAndSkippedLines) {
  struct Case {
    std::string line;
    bool accepted;
    std::string name, password;
  } cases[] = {
      {"/g/Data/a.jpk|pw", true, "/g/Data/a.jpk", "pw"},
      {"/g/Data/a.jpk\tpw", true, "/g/Data/a.jpk", "pw"},
      {"|\t/g/a.jpk|\t|pw|extra|more", true, "/g/a.jpk", "pw"},
      {"a.jpk | pw ", true, "a.jpk ", " pw "},     // blanks are kept
      {" ;a.jpk|pw", true, " ;a.jpk", "pw"},      // not a comment
      {"数据/甲.jpk|密码", true, "数据/甲.jpk", "密码"},
      {"", false, "", ""},
      {";a.jpk|pw", false, "", ""},
      {"a.jpk|", false, "", ""},
      {"a.jpk", false, "", ""},
      {"|word", false, "", ""},                   // the only field is the name
      {"||", false, "", ""},
      {std::string("\0a|pw", 5), false, "", ""},  // the name ends at the NUL byte
  };
  for (const Case& c : cases) {
    TNameValue pair{"old", "old"};
    EXPECT_EQ(ParseJpkListLine(c.line, pair), c.accepted) << c.line;
    if (c.accepted) {
      EXPECT_EQ(pair.Name, c.name) << c.line;
      EXPECT_EQ(pair.Value, c.password) << c.line;
    }
  }
}

TEST(JpkListLine, DoubleByteCharacterIsCutAtItsBarByte) {
  // "亅" is 0x81 0x7C in code page 936: the splitter sees its second byte as "|".
  TNameValue pair;
  ASSERT_TRUE(ParseJpkListLine("a亅b|pw", pair));
  EXPECT_EQ(pair.Name, "a?");   // the lone lead byte has no character
  EXPECT_EQ(pair.Value, "b");
}

TEST_F(ListsTest, LoadJpkListMergesNamesWithoutRegardToCase) {
  dir_.WriteFile("JpkList.txt", AnsiFromUtf8("; libraries\r\n"
                                             "/g/Data/Hum.jpk|one\r\n"
                                             "/g/Data/甲.jpk\t二\r\n"
                                             "bad line\r\n"
                                             "/G/DATA/HUM.JPK|three\r\n"));
  g_JpkList.SetValue("/g/kept.jpk", "k");  // the list is not emptied first
  LoadJpkList();
  EXPECT_EQ(JpkPairs(), (std::vector<std::pair<std::string, std::string>>{
                            {"/g/kept.jpk", "k"}, {"/g/Data/Hum.jpk", "three"}, {"/g/Data/甲.jpk", "二"}}));
}

TEST_F(ListsTest, LoadJpkListHonoursByteOrderMarksAndMissingFiles) {
  LoadJpkList();
  EXPECT_EQ(g_JpkList.Count(), 0u);
  dir_.WriteFile("JpkList.txt", "\xEF\xBB\xBF" "甲.jpk|密码\n");
  LoadJpkList();
  EXPECT_EQ(JpkPairs(), (std::vector<std::pair<std::string, std::string>>{{"甲.jpk", "密码"}}));
}

TEST_F(ListsTest, SaveJpkListWritesNameBarPasswordLines) {
  g_JpkList.SetValue("/g/甲.jpk", "密码");
  g_JpkList.SetValue("/g/b.jpk", "x y");
  SaveJpkList();
  EXPECT_EQ(dir_.ReadFile("JpkList.txt"), AnsiFromUtf8("/g/甲.jpk|密码\r\n/g/b.jpk|x y\r\n"));
  g_JpkList.Clear();
  LoadJpkList();
  EXPECT_EQ(JpkPairs(), (std::vector<std::pair<std::string, std::string>>{
                            {"/g/甲.jpk", "密码"}, {"/g/b.jpk", "x y"}}));
  g_JpkList.Clear();
  SaveJpkList();  // an empty list empties the file
  EXPECT_EQ(dir_.ReadFile("JpkList.txt"), "");
}

TEST_F(ListsTest, LibListsReadEveryLineUnchanged) {
  dir_.WriteFile("WzlList.txt", AnsiFromUtf8("/g/Data/Hum.wzl\r\n\r\n;not a comment\r\n/g/Data/Hum.wzl\r\n数据.wzl"));
  dir_.WriteFile("MapList.txt", "/g/Map/0.map\n");
  dir_.WriteFile("WavList.txt", "/g/Wav/1.wav\r/g/Wav/2.wav");
  g_WzlList = {"stale"};
  for (uint8_t n : {0, 1, 2}) LoadLibList(n);
  EXPECT_EQ(g_WzlList, (Lines{"/g/Data/Hum.wzl", "", ";not a comment", "/g/Data/Hum.wzl", "数据.wzl"}));
  EXPECT_EQ(g_MapList, (Lines{"/g/Map/0.map"}));
  EXPECT_EQ(g_WavList, (Lines{"/g/Wav/1.wav", "/g/Wav/2.wav"}));

  std::filesystem::remove("MapList.txt");
  LoadLibList(1);  // a missing file leaves the list empty
  EXPECT_TRUE(g_MapList.empty());
  LoadLibList(3);  // an unknown kind does nothing
  EXPECT_EQ(g_WzlList.size(), 5u);
}

TEST_F(ListsTest, SaveLibListLeavesTheFileAloneWhenTheListIsEmpty) {
  dir_.WriteFile("WavList.txt", "old\r\n");
  SaveLibList(2);
  EXPECT_EQ(dir_.ReadFile("WavList.txt"), "old\r\n");
  g_WavList = {"/g/声音.wav", ""};
  SaveLibList(2);
  EXPECT_EQ(dir_.ReadFile("WavList.txt"), AnsiFromUtf8("/g/声音.wav\r\n\r\n"));
  g_WzlList = {"x"};
  SaveLibList(7);
  EXPECT_FALSE(FileExists("WzlList.txt"));
}

TEST_F(ListsTest, FailedListWriteRaisesAndKeepsTheOldFile) {
  std::filesystem::create_directory("MapList.txt");
  g_MapList = {"x"};
  EXPECT_THROW(SaveLibList(1), EInOutError);
  std::filesystem::create_directory("JpkList.txt");
  g_JpkList.SetValue("a", "b");
  EXPECT_THROW(SaveJpkList(), EInOutError);
  EXPECT_EQ(g_MapList, (Lines{"x"}));
  EXPECT_EQ(g_JpkList.Count(), 1u);
  EXPECT_TRUE(std::filesystem::is_empty("MapList.txt"));
}

}  // namespace
