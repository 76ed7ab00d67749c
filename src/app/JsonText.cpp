#include "app/JsonText.h"

#include "platform/CodePage.h"

namespace {

// `utf8` with each malformed sequence replaced by U+FFFD, through the one converter's UTF-16 form.
std::string WellFormed(std::string_view utf8) {
  std::string units;
  for (const char16_t u : Utf16FromUtf8(utf8)) {
    units += static_cast<char>(u & 0xFF);
    units += static_cast<char>(u >> 8);
  }
  return Utf8FromUtf16Bytes(units, false);
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : WellFormed(utf8)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string JsonString(std::string_view utf8) {
  std::string out;
  AppendJsonString(out, utf8);
  return out;
}
