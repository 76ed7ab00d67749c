#include "formats/MD5.h"

#include <cstring>

namespace {

constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

void Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 |
           uint32_t(block[i * 4 + 2]) << 16 | uint32_t(block[i * 4 + 3]) << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t tmp = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kT[i] + x[g], kS[i]);
    a = tmp;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void MD5Init(MD5Context& Context) {
  std::memset(&Context, 0, sizeof Context);
  Context.State[0] = 0x67452301;
  Context.State[1] = 0xefcdab89;
  Context.State[2] = 0x98badcfe;
  Context.State[3] = 0x10325476;
}

void MD5Update(MD5Context& Context, const void* Input, uint32_t Length) {
  const auto* in = static_cast<const uint8_t*>(Input);
  uint32_t index = (Context.Count[0] >> 3) & 0x3F;
  uint32_t bitsLow = Length << 3;
  Context.Count[0] += bitsLow;
  if (Context.Count[0] < bitsLow) ++Context.Count[1];
  Context.Count[1] += Length >> 29;
  uint32_t partLen = 64 - index;
  uint32_t i = 0;
  if (Length >= partLen) {
    std::memcpy(&Context.Buffer[index], in, partLen);
    Transform(Context.State, Context.Buffer);
    for (i = partLen; i + 63 < Length; i += 64) Transform(Context.State, &in[i]);
    index = 0;
  }
  if (Length > i) std::memcpy(&Context.Buffer[index], &in[i], Length - i);
}

void MD5Final(MD5Context& Context, MD5Digest& Digest) {
  uint8_t bits[8];
  for (int i = 0; i < 4; ++i) {
    bits[i] = static_cast<uint8_t>(Context.Count[0] >> (8 * i));
    bits[i + 4] = static_cast<uint8_t>(Context.Count[1] >> (8 * i));
  }
  static const uint8_t kPadding[64] = {0x80};
  uint32_t index = (Context.Count[0] >> 3) & 0x3F;
  uint32_t padLen = index < 56 ? 56 - index : 120 - index;
  MD5Update(Context, kPadding, padLen);
  MD5Update(Context, bits, 8);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) Digest[i * 4 + j] = static_cast<uint8_t>(Context.State[i] >> (8 * j));
  }
  std::memset(&Context, 0, sizeof Context);
}

MD5Digest MD5Input(const void* Buffer, uint32_t Count) {
  MD5Context ctx;
  MD5Digest d;
  MD5Init(ctx);
  MD5Update(ctx, Buffer, Count);
  MD5Final(ctx, d);
  return d;
}

MD5Digest MD5String(std::string_view m) {
  return MD5Input(m.data(), static_cast<uint32_t>(m.size()));
}

void MD5PrintTo(const MD5Digest& d, MD5Text& out) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < 16; ++i) {
    out[2 * i] = kHex[d[i] >> 4];
    out[2 * i + 1] = kHex[d[i] & 0xF];
  }
}

std::string MD5Print(const MD5Digest& d) {
  MD5Text text;
  MD5PrintTo(d, text);
  return std::string(text.data(), text.size());
}

std::string CheckBufferMd5(const void* Input, int32_t nStartPos, int32_t nCheckSize) {
  if (Input == nullptr || nStartPos < 0 || nCheckSize < 0) return {};
  return MD5Print(MD5Input(static_cast<const uint8_t*>(Input) + nStartPos,
                           static_cast<uint32_t>(nCheckSize)));
}
