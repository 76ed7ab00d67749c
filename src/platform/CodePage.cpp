#include "platform/CodePage.h"

#include <algorithm>
#include <cstdint>

namespace {

// Length of the sequence a UTF-8 lead byte announces; 0 for a byte that starts none.
size_t Utf8LeadLength(unsigned char c) {
  return c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
}

}  // namespace

size_t Utf8SequenceLength(std::string_view s) {
  const size_t n = std::max<size_t>(1, Utf8LeadLength(static_cast<unsigned char>(s[0])));
  size_t i = 1;
  while (i < n && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  return i;
}

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const auto c = static_cast<unsigned char>(utf8[0]);
    const size_t len = Utf8SequenceLength(utf8);
    const size_t want = Utf8LeadLength(c);
    if (len != want) {
      out += u'\uFFFD';
    } else {
      uint32_t cp = want == 1 ? c : want == 2 ? (c & 0x1F) : want == 3 ? (c & 0x0F) : (c & 0x07);
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[k]) & 0x3F);
      if (cp >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        out += static_cast<char16_t>(cp);
      }
    }
    utf8.remove_prefix(len);
  }
  return out;
}

std::string Utf8FromUtf16Bytes(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) -> uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  const size_t n = bytes.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = unit(2 * i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
      uint32_t lo = unit(2 * (i + 1));
      if (lo >= 0xDC00 && lo < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u < 0xE000) {
      out += '?';
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}
