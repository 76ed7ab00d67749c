#include "settings/TarnShare.h"

#include "formats/MD5.h"

int32_t WidthBytes(int32_t nBit, int32_t nWidth) {
  const uint32_t bits = static_cast<uint32_t>(nWidth) * static_cast<uint32_t>(nBit) + 31u;
  return static_cast<int32_t>((bits >> 5) << 2);
}

std::string CheckBufferMd5(const void* Input, int32_t nStartPos, int32_t nCheckSize) {
  if (Input == nullptr || nStartPos < 0 || nCheckSize < 0) return {};
  return MD5Print(MD5Input(static_cast<const uint8_t*>(Input) + nStartPos,
                           static_cast<uint32_t>(nCheckSize)));
}
