#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/HUtil32.h"

namespace {

struct SplitCase {
  std::string src;
  std::string divider;
  std::string field;
  std::string rest;
};

using Splitter = std::string (*)(std::string_view, std::string&, std::string_view);

void ExpectSplits(Splitter split, const std::vector<SplitCase>& cases) {
  for (const SplitCase& c : cases) {
    std::string field = "stale";
    const std::string rest = split(c.src, field, c.divider);
    EXPECT_EQ(field, c.field) << "source '" << c.src << "'";
    EXPECT_EQ(rest, c.rest) << "source '" << c.src << "'";
  }
}

TEST(GetValidStr32, CutsOneFieldAndSkipsRunsOfDelimiters) {
  ExpectSplits(GetValidStr32, {
      {"a|b|c", "|", "a", "b|c"},
      {"||a||b", "|", "a", "|b"},
      {"|b", "|", "b", ""},
      {"|||", "|", "", ""},
      {"", "|", "", ""},
      {"abc", "|", "abc", ""},
      {"name\tpass", "|\t", "name", "pass"},
      {"\t|name|\tpass", "|\t", "name", "\tpass"},
      {" a |b", "|", " a ", "b"},       // blanks belong to the field
      {"a|b", "", "a|b", ""},           // no delimiters: one field
      {"/wclientdat/ABCD/1.html", "/", "wclientdat", "ABCD/1.html"},
  });
}

TEST(GetValidStr3, OnlyBlankAndTabAreSkippedBeforeAField) {
  ExpectSplits(GetValidStr3, {
      {"a||b", "|", "a", "|b"},
      {"|b", "|", "", "b"},             // the empty field between the two bars
      {" |a", " |", "", "a"},
      {"  a b", " ", "a", "b"},
      {"\ta", "\t|", "a", ""},
      {" |||", " |", "", "||"},
      {"", " ", "", ""},
      {"   ", " ", "", ""},
  });
  std::string s = "a||b", f;
  std::vector<std::string> fields;
  while (!s.empty()) {
    s = GetValidStr3(s, f, "|");
    fields.push_back(f);
  }
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "", "b"}));
}

TEST(Splitters, FieldEndsAtItsFirstNulByte) {
  for (Splitter split : {GetValidStr32, GetValidStr3}) {
    std::string field;
    EXPECT_EQ(split(std::string("ab\0cd|rest\0x", 12), field, "|"), std::string("rest\0x", 6));
    EXPECT_EQ(field, "ab");
    // A NUL byte is collected like any other, so the delimiter after it closes a field.
    EXPECT_EQ(split(std::string("\0|x", 3), field, "|"), "x");
    EXPECT_EQ(field, "");
    EXPECT_EQ(split(std::string("a\0", 2), field, "|"), "");
    EXPECT_EQ(field, "a");
    // A NUL byte may be a delimiter.
    EXPECT_EQ(split(std::string("a\0b", 3), field, std::string_view("\0", 1)), "b");
    EXPECT_EQ(field, "a");
  }
}

TEST(Splitters, RefuseSourcesOfTheLimitOrLonger) {
  for (Splitter split : {GetValidStr32, GetValidStr3}) {
    std::string field = "stale";
    const std::string atLimit = "a|" + std::string(kMaxValidStrLen - 2, 'b');
    EXPECT_TRUE(split(atLimit, field, "|").empty());
    EXPECT_TRUE(field.empty());
    const std::string belowLimit = std::string(kMaxValidStrLen - 2, 'b') + "|";
    EXPECT_TRUE(split(belowLimit, field, "|").empty());
    EXPECT_EQ(field.size(), kMaxValidStrLen - 2);
  }
}

TEST(Splitters, CutCodePageBytesInsideDoubleByteCharacters) {
  // "亅" in code page 936 is 0x81 0x7C: its second byte is "|".
  std::string field;
  EXPECT_EQ(GetValidStr32("x\x81|y|pw", field, "|\t"), "y|pw");
  EXPECT_EQ(field, "x\x81");
  EXPECT_EQ(GetValidStr32("\xCE\xA2\xB6\xCB|pw", field, "|"), "pw");
  EXPECT_EQ(field, "\xCE\xA2\xB6\xCB");
}

TEST(Splitters, SafeFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      const std::string own = "f" + std::to_string(t);
      for (int i = 0; i < 2000; ++i) {
        std::string field;
        const std::string rest = GetValidStr32("|" + own + "|tail", field, "|");
        if (field != own || rest != "tail") ++wrong[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
}

TEST(Hex_ToInt, DigitsByPositionWithWrapAround) {
  struct Case {
    std::string text;
    int32_t value;
  } cases[] = {
      {"7f", 127},       {"7F", 127},        {"g1", 1},        {"1g", 16},
      {"", 0},           {"FFFFFFFF", -1},   {"12345678", 0x12345678},
      {"112345678", 0x12345678 + 1},  // the ninth digit's shift wraps to 0
      {"zz", 0},         {"微1", 1},          {"1微", 16},  // a character is one position
      {"1😀", 0x100},                       // beyond U+FFFF: two positions
  };
  for (const Case& c : cases) EXPECT_EQ(Hex_ToInt(c.text), c.value) << c.text;
}

TEST(Str_ToInt, WholeTextOrTheDefault) {
  struct Case {
    std::string text;
    int32_t value;
  } cases[] = {
      {"12", 12},       {" 12", 5},        {"12 ", 5},       {"abc", 5},       {"", 5},
      {"-3", -3},       {"+7", 7},         {"-", 5},         {"+", 5},         {"4294967297", 1},
      {"0x1F", 31},     {"0X1f", 31},      {"-0x10", -16},   {"0x", 5},        {"0xg", 5},
      {"x10", 5},       {"007", 7},        {"1e3", 5},       {"1.5", 5},
      {"9223372036854775807", -1},           // INT64_MAX, low 32 bits
      {"-9223372036854775808", 0},           // INT64_MIN
      {"9223372036854775808", 5},            // outside 64 bits
      {"0xFFFFFFFFFFFFFFFF", -1},
      {"0x10000000000000000", 5},
      {std::string("1\0", 2), 5},
  };
  for (const Case& c : cases) EXPECT_EQ(Str_ToInt(c.text, 5), c.value) << c.text;
}

TEST(ExtractFileNameOnly, NameWithoutDirectoryOrExtension) {
  struct Case {
    std::string path, name;
  } cases[] = {
      {"D:\\data\\Hum.wzl", "Hum"},   {"hum.wzl", "hum"},         {"x.wzl.wzl", "x"},
      {"noext", "noext"},             {"dir.d\\noext", "noext"},  {"dir.d/noext", "noext"},
      {"/srv/game/Data/Hum2.wzl", "Hum2"},                         {"C:hum.wzl", "hum"},
      {"a.b.c", "a.b"},               {"", ""},                   {"dir/", ""},
      {"数据/人物.wzl", "人物"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractFileNameOnly(c.path), c.name) << c.path;
}

}  // namespace
