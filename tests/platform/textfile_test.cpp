#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "support/TempDir.h"

namespace {

using Lines = std::vector<std::string>;

TEST(TextFile, LineEndsAndTheFinalBreak) {
  struct Case {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"a\r\n\r\n", {"a", ""}},
      {"\n", {""}},
      {"a\n\r", {"a", ""}},  // LF then CR: two breaks, not one
  };
  for (const Case& c : cases) EXPECT_EQ(SplitTextLines(c.text), c.lines) << c.text;
}

TEST(TextFile, ByteOrderMarksSelectTheDecoding) {
  struct Case {
    std::string bytes, text;
  } cases[] = {
      {"\xEF\xBB\xBF微端", "微端"},
      {std::string("\xFF\xFE\xAE\x5F\x0D\x00\x0A\x00x\x00", 10), "微\r\nx"},
      {std::string("\xFE\xFF\x5F\xAE\x00\x0A\x00x", 8), "微\nx"},
      {"\xCE\xA2\xB6\xCB", "微端"},          // no mark: code page 936
      {"\xEF\xBB", "锘"},                    // a cut-off mark is code-page text
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeTextBytes(c.bytes), c.text);
}

TEST(TextFile, WritesCodePage936WithCrLfAfterEveryLine) {
  TempDir dir;
  WriteTextLines("list.txt", {"微端", "", "a|b"});
  EXPECT_EQ(dir.ReadFile("list.txt"), "\xCE\xA2\xB6\xCB\r\n\r\na|b\r\n");
  EXPECT_EQ(ReadTextLines("list.txt"), (Lines{"微端", "", "a|b"}));
  WriteTextLines("list.txt", {});
  EXPECT_EQ(dir.ReadFile("list.txt"), "");
}

TEST(TextFile, ReadsUtf16FilesLineByLine) {
  TempDir dir;
  dir.WriteFile("u16.txt", std::string("\xFF\xFE" "a\0\r\0\n\0\xAE\x5F\r\0", 12));
  EXPECT_EQ(ReadTextLines("u16.txt"), (Lines{"a", "微"}));
}

TEST(TextFile, MissingFileThrows) {
  TempDir dir;
  EXPECT_THROW(ReadTextLines("absent.txt"), EInOutError);
}

}  // namespace
