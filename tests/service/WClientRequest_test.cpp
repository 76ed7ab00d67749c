// Parsing a request path once into what it asks for. Refusals and their work-log lines are
// covered with the service object (NuvoHttpServer_test); here the forms of the image field and
// the kinds each type code gives.
#include <gtest/gtest.h>

#include <cstdint>

#include "formats/MD5.h"
#include "service/RequestToken.h"
#include "service/WClientRequest.h"

namespace {

const MD5Digest kKey = MD5String("418K7_p2593");

TWClientRequest Parse(const std::string& plain, const std::string& type) {
  return ParseWClientRequest("/wclientdat/" + SimpleEnStringMsg(plain, kKey) + "/" + type, kKey);
}

TEST(WClientRequestTest, ImageFieldForms) {
  struct Case {
    std::string image;
    TWClientRequestKind kind;
    int32_t nIndex;
  };
  const std::vector<Case> cases = {
      {"0", TWClientRequestKind::Image, 0},
      {"12.bmp", TWClientRequestKind::Image, 12},
      {"sub\\12.bmp", TWClientRequestKind::Image, 12},
      {"c:7", TWClientRequestKind::Image, 7},
      {"12.bmp/x", TWClientRequestKind::Image, 12},  // "/" cuts no request field
      {"0/1", TWClientRequestKind::Image, -1},
      {"a/12", TWClientRequestKind::Image, -1},
      {"+3", TWClientRequestKind::Image, 3},
      {"-1", TWClientRequestKind::Image, -1},
      {"x", TWClientRequestKind::Image, -1},
      {" 0", TWClientRequestKind::Image, -1},
      {"sub\\", TWClientRequestKind::Image, -1},
      {"Header1", TWClientRequestKind::Image, -1},
      {"2147483647", TWClientRequestKind::Image, INT32_MAX},
      {"-2147483648", TWClientRequestKind::Image, INT32_MIN},
      {"2147483648", TWClientRequestKind::Image, -1},      // beyond 32 bits: no number, not wrapped
      {"4294967296", TWClientRequestKind::Image, -1},
      {"-4294967296", TWClientRequestKind::Image, -1},
      {"0x100000000", TWClientRequestKind::Image, -1},
      {"Header", TWClientRequestKind::Header, -1},
      {"HEADER", TWClientRequestKind::Header, -1},
      {"dir\\header.bmp", TWClientRequestKind::Header, -1},
  };
  for (const Case& c : cases) {
    for (const char* type : {"1.html", "2.html"}) {
      const TWClientRequest r = Parse("data|hum.wzl|" + c.image, type);
      EXPECT_EQ(r.Kind, c.kind) << c.image;
      EXPECT_EQ(r.nIndex, c.nIndex) << c.image;
      EXPECT_EQ(r.Key, "\\data\\hum.wzl") << c.image;
    }
  }
}

TEST(WClientRequestTest, KindOfEveryTypeCode) {
  EXPECT_EQ(Parse("data|hum.wzl", "1.html").Kind, TWClientRequestKind::NoImageField);
  EXPECT_EQ(Parse("data|hum.wzl|", "2.html").Kind, TWClientRequestKind::NoImageField);
  EXPECT_EQ(Parse("map\\sub|0.map|9", "3.html").Kind, TWClientRequestKind::Map);
  EXPECT_EQ(Parse("map\\sub|0.map", "3.html").Key, "\\map\\sub\\0.map");
  EXPECT_EQ(Parse("wav|hit.wav", "4.html").Kind, TWClientRequestKind::Wav);
  EXPECT_EQ(Parse("wav|hit.wav", "5.html").Kind, TWClientRequestKind::Wav);
  EXPECT_EQ(Parse("wav|hit.wav", "6.html").Kind, TWClientRequestKind::Refused);
  const TWClientRequest table = ParseWClientRequest("/WClientDat/ABC/check-indexes", kKey);
  EXPECT_EQ(table.Kind, TWClientRequestKind::CheckIndexes);
  EXPECT_EQ(table.Token, "ABC");
}

}  // namespace
