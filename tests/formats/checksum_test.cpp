#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "formats/CnCRC32.h"
#include "formats/MD5.h"
#include "formats/uEncodeJpk.h"
#include "formats/WIL.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : bytes) {
    s += kHex[c >> 4];
    s += kHex[c & 15];
  }
  return s;
}

TEST(Crc32, CheckValueAndContinuation) {
  const std::string nine = "123456789";
  EXPECT_EQ(CRC32Calc(0, nine.data(), 9), 0xCBF43926u);
  EXPECT_EQ(CRC32CalcTable(0, nine.data(), 9), 0xCBF43926u);
  // A checksum continued across two pieces equals the checksum of the whole.
  uint32_t a = CRC32Calc(0, nine.data(), 4);
  EXPECT_EQ(CRC32Calc(a, nine.data() + 4, 5), 0xCBF43926u);
  EXPECT_EQ(CRC32CalcTable(a, nine.data() + 4, 5), 0xCBF43926u);
}

TEST(Crc32, TableLoopAgreesWithZlibOnEveryLength) {
  std::string data;
  for (int i = 0; i < 3000; ++i) data += static_cast<char>((i * 131 + 7) & 0xFF);
  for (uint32_t len : {1u, 2u, 3u, 7u, 8u, 15u, 16u, 63u, 64u, 1000u, 3000u}) {
    uint32_t z = crc32(0, reinterpret_cast<const Bytef*>(data.data()), len);
    EXPECT_EQ(CRC32CalcTable(0, data.data(), len), z) << len;
    EXPECT_EQ(CRC32Calc(0, data.data(), len), z) << len;
  }
}

TEST(Crc32, EmptyInputKeepsTheDeployedValue) {
  EXPECT_EQ(CRC32Calc(0, "", 0), 0xFFFFFFFFu);
  EXPECT_EQ(CRC32Calc(0, nullptr, 5), 0xFFFFFFFFu);
  EXPECT_EQ(CRC32CalcTable(0, "", 0), 0xFFFFFFFFu);
}

TEST(Md5, Rfc1321TestSuite) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(MD5Print(MD5String(in)), want) << in;
}

TEST(Md5, PiecewiseUpdateEqualsOneCallAndFinalWipesContext) {
  std::string data(1000, 'x');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  MD5Context ctx;
  MD5Init(ctx);
  for (size_t off = 0; off < data.size(); off += 37) {
    MD5Update(ctx, data.data() + off, static_cast<uint32_t>(std::min<size_t>(37, data.size() - off)));
  }
  MD5Digest d;
  MD5Final(ctx, d);
  EXPECT_EQ(d, MD5Input(data.data(), static_cast<uint32_t>(data.size())));
  const auto* raw = reinterpret_cast<const uint8_t*>(&ctx);
  for (size_t i = 0; i < sizeof ctx; ++i) ASSERT_EQ(raw[i], 0) << i;
}

TEST(Md5, CheckBufferMd5CoversTheGivenWindow) {
  const std::string buf = "0123456789abcdef";
  EXPECT_EQ(CheckBufferMd5(buf.data(), 4, 8), MD5Print(MD5String("456789ab")));
  EXPECT_EQ(CheckBufferMd5(buf.data(), 0, 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(CheckBufferMd5(nullptr, 0, 4), "");
}

TEST(WidthBytesTest, RowsRoundUpToFourBytes) {
  const struct { int bits, width, want; } cases[] = {
      {8, 1, 4}, {8, 5, 8}, {16, 3, 8}, {16, 4, 8}, {16, 5, 12}, {8, 0, 0}, {16, 1, 4}, {8, 4, 4}};
  for (const auto& c : cases) EXPECT_EQ(WidthBytes(c.bits, c.width), c.want) << c.bits << "x" << c.width;
}

TEST(Rc4, Rfc6229Vectors) {
  const struct { std::string key, first32; } cases[] = {
      {"\x01\x02\x03\x04\x05", "b2396305f03dc027ccc3524a0a1118a869829" "44f18fc82d589c403a47a0d0919"},
      {std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 16),
       "9ac7cc9a609d1ef7b2932899cde41b975248c4959014126a6e8a84f11d1a9e1c"},
  };
  for (const auto& c : cases) {
    TRC4State st;
    RC4Init(st, reinterpret_cast<const uint8_t*>(c.key.data()), c.key.size());
    std::string zeros(32, '\0');
    RC4Apply(st, reinterpret_cast<uint8_t*>(zeros.data()), zeros.size());
    EXPECT_EQ(Hex(zeros), c.first32);
    RC4Wipe(st);
    for (uint8_t b : st.S) ASSERT_EQ(b, 0xFF);
  }
}

TEST(DecodeDcpBufTest, KeyIsSha1OfPasswordAndCipherIsItsOwnInverse) {
  // With SHA-1("abc") = a9993e36... as the RC4 key, zeros decode to that key's keystream.
  const std::string sha1abc("\xa9\x99\x3e\x36\x47\x06\x81\x6a\xba\x3e\x25\x71\x78\x50\xc2\x6c\x9c\xd0\xd8\x9d", 20);
  TRC4State st;
  RC4Init(st, reinterpret_cast<const uint8_t*>(sha1abc.data()), sha1abc.size());
  std::string keystream(80, '\0');
  RC4Apply(st, reinterpret_cast<uint8_t*>(keystream.data()), keystream.size());
  auto out = DecodeDcpBuf("abc", std::string(80, '\0').data(), 80);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out, keystream);

  const std::string plain = "GameLib v2.0 header bytes\x00\xff";
  auto enc = DecodeDcpBuf("p\xc3\xdc", plain.data(), static_cast<int32_t>(plain.size()));
  auto dec = DecodeDcpBuf("p\xc3\xdc", enc->data(), static_cast<int32_t>(enc->size()));
  EXPECT_NE(*enc, plain);
  EXPECT_EQ(*dec, plain);
  EXPECT_FALSE(DecodeDcpBuf("", plain.data(), 4).has_value());
}

}  // namespace
