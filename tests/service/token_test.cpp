#include <gtest/gtest.h>

#include <array>
#include <string>

#include "formats/MD5.h"
#include "platform/CodePage.h"
#include "settings/TarnShare.h"
#include "service/RequestToken.h"

namespace {

using Key = std::array<uint8_t, 16>;

// param1 ^ param2 = k4 ^ k2 ^ (k3 & k1) ^ k6 ^ k5 ^ (k7 & k8).
uint8_t KeyByte(const Key& k) { return k[4] ^ k[2] ^ (k[3] & k[1]) ^ k[6] ^ k[5] ^ (k[7] & k[8]); }

const Key kZeroKey{};
const Key kSomeKey = MD5String("418K7_p2593");

TEST(SimpleDeStringMsg, ShortAndOddTokens) {
  for (const Key& key : {kZeroKey, kSomeKey}) {
    EXPECT_EQ(SimpleDeStringMsg("", key), "");
    EXPECT_EQ(SimpleDeStringMsg("4", key), "");
    EXPECT_EQ(SimpleDeStringMsg("4A7", key), SimpleDeStringMsg("4A", key));
    EXPECT_EQ(SimpleDeStringMsg("4A7", key).size(), 1u);
  }
}

TEST(SimpleDeStringMsg, ZeroKeyByteSubtractsThree) {
  EXPECT_EQ(KeyByte(kZeroKey), 0);
  EXPECT_EQ(SimpleDeStringMsg("03", kZeroKey), std::string("\0", 1));
  EXPECT_EQ(SimpleDeStringMsg("02", kZeroKey), "\xFF");
  EXPECT_EQ(SimpleDeStringMsg("44", kZeroKey), "A");
  // Digits in either case; a character that is no digit counts as 0.
  EXPECT_EQ(SimpleDeStringMsg("fF", kZeroKey), "\xFC");
  EXPECT_EQ(SimpleDeStringMsg("zz", kZeroKey), "\xFD");
  EXPECT_EQ(SimpleDeStringMsg("4z", kZeroKey), "=");
}

TEST(SimpleDeStringMsg, KeyActsOnlyThroughBytesOneToEight) {
  const std::string token = "0123456789abcdefABCDEFzz";
  const std::string base = SimpleDeStringMsg(token, kSomeKey);
  for (int i : {0, 9, 10, 11, 12, 13, 14, 15}) {
    Key k = kSomeKey;
    k[i] ^= 0xA5;
    EXPECT_EQ(SimpleDeStringMsg(token, k), base) << "key byte " << i;
  }
  Key flipped = kSomeKey;
  flipped[4] ^= 0x21;
  const std::string changed = SimpleDeStringMsg(token, flipped);
  ASSERT_EQ(changed.size(), base.size());
  for (size_t i = 0; i < base.size(); ++i) EXPECT_EQ(changed[i] ^ base[i], 0x21);
  EXPECT_EQ(SimpleDeStringMsg("zz", kSomeKey), std::string(1, static_cast<char>(253 ^ KeyByte(kSomeKey))));
}

TEST(SimpleDeStringMsg, InverseRoundTripsEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string chinesePass = AnsiFromUtf8("微端密码");
  for (const Key& key : {kZeroKey, kSomeKey, MD5String(chinesePass)}) {
    for (const std::string& plain : {all, std::string("data|hum.wzl|12"), chinesePass, std::string()}) {
      const std::string token = SimpleEnStringMsg(plain, key);
      EXPECT_EQ(token.size(), plain.size() * 2);
      EXPECT_EQ(token.find_first_not_of("0123456789ABCDEF"), std::string::npos);
      EXPECT_EQ(SimpleDeStringMsg(token, key), plain);
      std::string lower = token;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_EQ(SimpleDeStringMsg(lower, key), plain);
    }
  }
}

}  // namespace
