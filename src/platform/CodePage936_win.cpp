// Code page 936 on Windows: the system's own conversion functions, with "?" for a character the
// code page lacks, as every Windows program converting to it gets.
#include "platform/CodePage.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

#include "platform/AsciiText.h"

namespace {

constexpr UINT kCodePage = 936;

int CheckedLength(size_t n) {
  if (n > static_cast<size_t>(INT_MAX / 2)) throw std::length_error("text too long to convert");
  return static_cast<int>(n);
}

}  // namespace

std::string AnsiFromUtf8(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  // A malformed UTF-8 sequence becomes U+FFFD here, which the code page lacks: "?". A character
  // beyond the BMP is one "?" too, not one per UTF-16 unit.
  std::u16string wide;
  for (const char16_t c : Utf16FromUtf8(utf8)) {
    if (c >= 0xDC00 && c < 0xE000 && !wide.empty() && wide.back() >= 0xD800 && wide.back() < 0xDC00) {
      wide.back() = u'?';
      continue;
    }
    wide += c;
  }
  const auto* src = reinterpret_cast<const wchar_t*>(wide.data());
  const int len = CheckedLength(wide.size());
  std::string out(static_cast<size_t>(len) * 2, '\0');
  const int n = WideCharToMultiByte(kCodePage, 0, src, len, out.data(), static_cast<int>(out.size()), "?", nullptr);
  out.resize(static_cast<size_t>(n > 0 ? n : 0));
  return out;
}

std::string Utf8FromAnsi(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  const int len = CheckedLength(ansi.size());
  std::wstring wide(static_cast<size_t>(len), L'\0');
  const int n = MultiByteToWideChar(kCodePage, 0, ansi.data(), len, wide.data(), len);
  wide.resize(static_cast<size_t>(n > 0 ? n : 0));
  // A byte sequence that is no character comes back as U+FFFD, and the byte 0xFF as the system's
  // private-use placeholder U+F8F5: "?" for both, as the Linux build reads them.
  for (wchar_t& c : wide) {
    if (c == 0xFFFD || c == 0xF8F5) c = L'?';
  }
  return Utf8FromUtf16Bytes(std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t)), false);
}
