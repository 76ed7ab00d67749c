// Checks of single answers that need no server: where a header block's index places each image,
// for each library kind, so that an image answered absent there is caught.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/WClientProbe.h"
#include "formats/Jpk.h"
#include "formats/WIL.h"
#include "formats/Wzl.h"

namespace {

template <typename T>
void Append(std::string& out, const T& record) {
  out.append(reinterpret_cast<const char*>(&record), sizeof record);
}

// A header block as the server sends it, of library kind 1 (WZL), 3 (JPK) or 4 (JPK, 20-byte entries).
std::string HeaderBlock(int32_t nType, const std::vector<uint32_t>& positions) {
  std::string out;
  Append(out, TWMUpdateHeader{nType, WClientVer});
  if (nType == 1) {
    TWzlHeader wzl{};
    wzl.ImageCount = static_cast<int32_t>(positions.size());
    Append(out, wzl);
    Append(out, TWzlIndexHeader{});
    for (uint32_t p : positions) Append(out, p);
    return out;
  }
  TJpkHeader jpk{};
  const std::string_view title = nType == 4 ? ANSTRv2 : ANSTR;
  jpk.TitleLen = static_cast<uint8_t>(title.size());
  std::memcpy(jpk.Title, title.data(), title.size());
  jpk.ImageCount = static_cast<uint32_t>(positions.size());
  Append(out, jpk);
  for (uint32_t p : positions) {
    if (nType == 4) {
      TIndexHash entry{};
      entry.Position = p;
      Append(out, entry);
    } else {
      Append(out, p);
    }
  }
  return out;
}

TEST(HeaderIndexTest, PlacesImagesFromEachReadersThresholdOn) {
  // Below 16 (WZL) or 20 (JPK) a position means an absent image; 2^31 and above reads as negative.
  const std::vector<uint32_t> positions = {0, 15, 16, 19, 20, 4096, 0x80000000u};
  const struct {
    int32_t nType;
    std::vector<bool> stored;
  } cases[] = {
      {1, {false, false, true, true, true, true, false}},
      {3, {false, false, false, false, true, true, false}},
      {4, {false, false, false, false, true, true, false}},
  };
  for (const auto& c : cases) {
    THeaderSummary h;
    ASSERT_EQ(CheckHeaderPayload(HeaderBlock(c.nType, positions), &h), "") << c.nType;
    ASSERT_EQ(h.Positions.size(), positions.size()) << c.nType;
    for (size_t i = 0; i < positions.size(); ++i) {
      EXPECT_EQ(IndexStoresImage(h, static_cast<int32_t>(i)), c.stored[i]) << "kind " << c.nType << ", position " << positions[i];
    }
    EXPECT_FALSE(IndexStoresImage(h, -1));
    EXPECT_FALSE(IndexStoresImage(h, static_cast<int32_t>(positions.size())));
  }
}

}  // namespace
