// MD5 message digest (RFC 1321) and its lowercase hexadecimal text. Reentrant.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct MD5Context {
  uint32_t State[4];
  uint32_t Count[2];  // message length in bits, low word first
  uint8_t Buffer[64];
};
static_assert(sizeof(MD5Context) == 88);

using MD5Digest = std::array<uint8_t, 16>;

void MD5Init(MD5Context& Context);
void MD5Update(MD5Context& Context, const void* Input, uint32_t Length);
// Writes the digest and zero-fills the whole context.
void MD5Final(MD5Context& Context, MD5Digest& Digest);
MD5Digest MD5Input(const void* Buffer, uint32_t Count);
MD5Digest MD5String(std::string_view m);
// 32 lowercase hexadecimal digits.
std::string MD5Print(const MD5Digest& d);
using MD5Text = std::array<char, 32>;
// The same digits in a fixed buffer, for callers that print one per index entry.
void MD5PrintTo(const MD5Digest& d, MD5Text& out);
// MD5 text of `nCheckSize` bytes starting `nStartPos` bytes after `Input`; empty on failure.
std::string CheckBufferMd5(const void* Input, int32_t nStartPos, int32_t nCheckSize);
