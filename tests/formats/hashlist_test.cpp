#include <gtest/gtest.h>

#include <string>

#include "formats/HashList.h"

namespace {

TEST(TStringHash, HashOfWorksOnUtf16CodeUnits) {
  const TStringHash hash(16);
  EXPECT_EQ(hash.HashOf(""), 0u);
  EXPECT_EQ(hash.HashOf("ab"), (97u << 7) ^ 98u);
  EXPECT_EQ(hash.HashOf("微"), 0x5FAEu);
  EXPECT_EQ(hash.HashOf("😀"), (0xD83Du << 7) ^ 0xDE00u);  // a surrogate pair
  // Bits shifted past 32 are lost and the sign bit is cleared.
  EXPECT_EQ(hash.HashOf("abcdefgh"), [] {
    uint32_t h = 0;
    for (char c : std::string("abcdefgh")) h = (h << 7) ^ static_cast<uint32_t>(c);
    return h & 0x7FFFFFFFu;
  }());
}

TEST(TStringHash, AddFindModifyRemove) {
  TStringHash hash(4);
  EXPECT_EQ(hash.ValueOf("a"), -1);
  EXPECT_FALSE(hash.Modify("a", 9));
  EXPECT_EQ(hash.ValueOf("a"), -1);
  hash.Add("a", 1);
  hash.Add("A", 2);  // keys are compared exactly
  hash.Add("a", 3);  // the later of two equal keys is found first
  EXPECT_EQ(hash.ValueOf("a"), 3);
  EXPECT_EQ(hash.ValueOf("A"), 2);
  EXPECT_TRUE(hash.Modify("a", 4));
  EXPECT_EQ(hash.ValueOf("a"), 4);
  hash.Remove("a");
  EXPECT_EQ(hash.ValueOf("a"), 1);
  hash.Remove("a");
  EXPECT_EQ(hash.ValueOf("a"), -1);
  hash.Remove("a");  // absent: nothing happens
  EXPECT_EQ(hash.ValueOf("A"), 2);
  EXPECT_EQ(hash.Find("absent"), nullptr);
  ASSERT_NE(hash.Find("A"), nullptr);
  EXPECT_EQ(hash.Find("A")->Value, 2);
  hash.Clear();
  EXPECT_EQ(hash.ValueOf("A"), -1);
  EXPECT_EQ(hash.Size(), 4u);
  hash.Add("A", 5);
  EXPECT_EQ(hash.ValueOf("A"), 5);
}

// A derived table may replace the hash; everything then lands in one chain.
class OneBucketHash : public TStringHash {
 public:
  OneBucketHash() : TStringHash(8) {}
  uint32_t HashOf(std::string_view) const override { return 0; }
};

TEST(TStringHash, LongChainsWorkAndAreFreedWithoutRecursion) {
  OneBucketHash hash;
  for (int i = 0; i < 200000; ++i) hash.Add(std::to_string(i), i);
  EXPECT_EQ(hash.ValueOf("0"), 0);
  EXPECT_EQ(hash.ValueOf("199999"), 199999);
  hash.Remove("100000");
  EXPECT_EQ(hash.ValueOf("100000"), -1);
  EXPECT_EQ(hash.ValueOf("100001"), 100001);
}

TEST(THStringList2, IndexOfFoldsAsciiCaseByDefault) {
  THStringList2 list;
  EXPECT_EQ(list.IndexOf("a"), -1);
  EXPECT_EQ(list.AddObject("abc", 10), 0);
  EXPECT_EQ(list.AddObject("Def", 11), 1);
  EXPECT_EQ(list.AddObject("ABC", 12), 2);  // duplicates are accepted; the last one is found
  EXPECT_EQ(list.IndexOf("aBc"), 2);
  EXPECT_EQ(list.IndexOf("DEF"), 1);
  EXPECT_EQ(list.IndexOf("微"), -1);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(1), "Def");
  EXPECT_EQ(list.Objects(2), 12);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("abc"), 0);
  EXPECT_EQ(list.IndexOf("ABC"), 2);
  EXPECT_EQ(list.IndexOf("def"), -1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.IndexOf("abc"), -1);
}

TEST(THStringList2, IndexOfStaysRightAfterDelete) {
  THStringList2 list;
  for (const char* s : {"d0", "d1", "d2", "d1", "d4"}) list.AddObject(s, 0);
  list.Delete(1);  // the first "d1"
  EXPECT_EQ(list.IndexOf("d0"), 0);
  EXPECT_EQ(list.IndexOf("d2"), 1);
  EXPECT_EQ(list.IndexOf("d1"), 2);
  EXPECT_EQ(list.IndexOf("d4"), 3);
  list.Delete(2);
  EXPECT_EQ(list.IndexOf("d1"), -1);
  EXPECT_EQ(list.IndexOf("d4"), 2);
  list.Delete(7);   // out of range: nothing happens
  list.Delete(-1);
  EXPECT_EQ(list.Count(), 3);
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.IndexOf(list.Strings(i)), i);
}

// A text taken from the list itself may be added again while the list grows under it.
TEST(THStringList2, AddsItsOwnTextsWhileGrowing) {
  THStringList2 list;
  list.AddObject("0123456789abcdef0123456789abcdef", 0);
  for (int i = 1; i < 300; ++i) EXPECT_EQ(list.AddObject(list.Strings(i - 1), i), i);
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Strings(i), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(list.IndexOf("0123456789ABCDEF0123456789ABCDEF"), 299);
  list.Clear();
  list.AddObject("x", 7);
  EXPECT_EQ(list.Strings(0), "x");
  EXPECT_EQ(list.IndexOf("X"), 0);
}

}  // namespace
