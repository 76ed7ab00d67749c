#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/CodePage.h"

namespace {

TEST(CodePage, ChineseTextRoundTripsThroughCodePage936) {
  const std::string utf8 = "Varrow微端 密码|Ω é";
  const std::string ansi = AnsiFromUtf8(utf8);
  EXPECT_EQ(ansi, "Varrow\xCE\xA2\xB6\xCB \xC3\xDC\xC2\xEB|\xA6\xB8 \xA8\xA6");
  EXPECT_EQ(Utf8FromAnsi(ansi), utf8);
}

TEST(CodePage, EuroSignUsesTheWindowsSingleByte) {
  EXPECT_EQ(AnsiFromUtf8("€"), "\x80");
  EXPECT_EQ(Utf8FromAnsi("\x80"), "€");
}

TEST(CodePage, EachUnmappableCharacterBecomesOneQuestionMark) {
  struct Case {
    std::string utf8, ansi;
  } cases[] = {
      {"a😀b", "a?b"},          // beyond the BMP
      {"กข", "??"},             // Thai: no code-page form
      {"x\xC3", "x?"},          // truncated UTF-8 sequence at the end
      {"\xFF" "a", "?a"},       // a byte that starts no UTF-8 sequence
      {"微😀端", "\xCE\xA2?\xB6\xCB"},
  };
  for (const Case& c : cases) EXPECT_EQ(AnsiFromUtf8(c.utf8), c.ansi) << c.utf8;
}

TEST(CodePage, InvalidCodePageBytesBecomeQuestionMarks) {
  EXPECT_EQ(Utf8FromAnsi("a\xFF" "b"), "a?b");
  EXPECT_EQ(Utf8FromAnsi("\xCE"), "?");            // lead byte without its second byte
  EXPECT_EQ(Utf8FromAnsi("\xCE\xA2\xB6"), "微?");
}

TEST(CodePage, AsciiAndNulBytesPassUnchanged) {
  const std::string bytes("a\0b\x7F", 4);
  EXPECT_EQ(AnsiFromUtf8(bytes), bytes);
  EXPECT_EQ(Utf8FromAnsi(bytes), bytes);
  EXPECT_EQ(AnsiFromUtf8(std::string("\0微", 4)), std::string("\0\xCE\xA2", 3));
}

TEST(CodePage, Utf16BytesInBothOrders) {
  // "A微" then U+1F600 as a surrogate pair.
  const std::string le("A\0\xAE\x5F\x3D\xD8\x00\xDE", 8);
  const std::string be("\0A\x5F\xAE\xD8\x3D\xDE\x00", 8);
  EXPECT_EQ(Utf8FromUtf16Bytes(le, false), "A微😀");
  EXPECT_EQ(Utf8FromUtf16Bytes(be, true), "A微😀");
  // Unpaired surrogates become "?"; an odd last byte is dropped.
  EXPECT_EQ(Utf8FromUtf16Bytes(std::string("\x3D\xD8" "A\0", 4), false), "?A");
  EXPECT_EQ(Utf8FromUtf16Bytes(std::string("\x00\xDC" "B", 3), false), "?");
}

TEST(CodePage, Utf16UnitsFromUtf8) {
  EXPECT_EQ(Utf16FromUtf8("A微😀"), u"A微😀");
  EXPECT_EQ(Utf16FromUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  // Each malformed sequence is one replacement character.
  EXPECT_EQ(Utf16FromUtf8("\xFF" "a\xE5\xBE" "b\xE5"), u"\uFFFDa\uFFFDb\uFFFD");
}

TEST(CodePage, ConvertsFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 500; ++i) {
        const std::string text = "微端" + std::to_string(t * 1000 + i);
        if (Utf8FromAnsi(AnsiFromUtf8(text)) != text) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
