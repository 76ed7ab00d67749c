#include "formats/CnCRC32.h"

#include <zlib.h>

#include <array>

namespace {

std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t v = n;
    for (int k = 0; k < 8; ++k) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    table[n] = v;
  }
  return table;
}

const std::array<uint32_t, 256> CRC32Table = MakeTable();

}  // namespace

uint32_t CRC32CalcTable(uint32_t OrgCRC32, const void* Data, uint32_t Len) {
  if (Data == nullptr || Len == 0) return ~OrgCRC32;
  uint32_t crc = ~OrgCRC32;
  const auto* p = static_cast<const uint8_t*>(Data);
  for (uint32_t i = 0; i < Len; ++i) crc = (crc >> 8) ^ CRC32Table[(crc ^ p[i]) & 0xFF];
  return ~crc;
}

uint32_t CRC32Calc(uint32_t OrgCRC32, const void* Data, uint32_t Len) {
  // zlib's folded CRC gives the same values several times faster, and the CRC runs under a
  // library's lock for every image sent.
  if (Data == nullptr || Len == 0) return ~OrgCRC32;
  return static_cast<uint32_t>(crc32(OrgCRC32, static_cast<const Bytef*>(Data), Len));
}
