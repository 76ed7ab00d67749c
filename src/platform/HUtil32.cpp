#include "platform/HUtil32.h"

#include <limits>

#include "platform/CodePage.h"

namespace {

// The field collected so far ends at its first NUL byte.
std::string FieldUpToNul(std::string_view field) { return std::string(field.substr(0, field.find('\0'))); }

// Both splitters: `skipLeading(c)` says whether a delimiter met before any field byte is skipped
// (true) or closes an empty field (false).
template <typename SkipLeading>
std::string SplitField(std::string_view Str, std::string& Dest, std::string_view Divider,
                       SkipLeading skipLeading) {
  Dest.clear();
  if (Str.empty() || Str.size() >= kMaxValidStrLen) return {};
  size_t start = std::string_view::npos;  // first byte of the field, once one is collected
  for (size_t i = 0; i < Str.size(); ++i) {
    const char c = Str[i];
    if (Divider.find(c) == std::string_view::npos) {
      if (start == std::string_view::npos) start = i;
      continue;
    }
    if (start != std::string_view::npos) {
      Dest = FieldUpToNul(Str.substr(start, i - start));
      return std::string(Str.substr(i + 1));
    }
    if (!skipLeading(c)) return std::string(Str.substr(i + 1));
  }
  if (start != std::string_view::npos) Dest = FieldUpToNul(Str.substr(start));
  return {};
}

bool TryUnsignedDigits(std::string_view digits, unsigned base, uint64_t& value) {
  if (digits.empty()) return false;
  uint64_t v = 0;
  for (char c : digits) {
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      d = static_cast<unsigned>(HexDigitValue(c));
    } else {
      return false;
    }
    if (v > (std::numeric_limits<uint64_t>::max() - d) / base) return false;
    v = v * base + d;
  }
  value = v;
  return true;
}

}  // namespace

std::string GetValidStr32(std::string_view Str, std::string& Dest, std::string_view Divider) {
  return SplitField(Str, Dest, Divider, [](char) { return true; });
}

std::string GetValidStr3(std::string_view Str, std::string& Dest, std::string_view Divider) {
  return SplitField(Str, Dest, Divider, [](char c) { return c == ' ' || c == '\t'; });
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

int32_t Hex_ToInt(std::string_view str) {
  // Positions are those of the UTF-16 text; only ASCII characters can be digits.
  const std::u16string units = Utf16FromUtf8(str);
  uint32_t value = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    const int digit = u < 0x80 ? HexDigitValue(static_cast<char>(u)) : 0;
    value += static_cast<uint32_t>(digit) << ((4 * (units.size() - 1 - i)) % 32);
  }
  return static_cast<int32_t>(value);
}

bool TryStrToInt64(std::string_view s, int64_t& value) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  uint64_t magnitude = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    // A hexadecimal number may use all 64 bits: 0xFFFFFFFFFFFFFFFF is -1.
    if (!TryUnsignedDigits(s.substr(2), 16, magnitude)) return false;
    value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
  }
  if (!TryUnsignedDigits(s, 10, magnitude)) return false;
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) return false;
  value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
  return true;
}

namespace {

// The integer both readers accept: a digit or sign first, then TryStrToInt64's whole-text rule.
bool ReadLeadingInteger(std::string_view Str, int64_t& v) {
  if (Str.empty()) return false;
  const char first = Str[0];
  if (!(first >= '0' && first <= '9') && first != '+' && first != '-') return false;
  return TryStrToInt64(Str, v);
}

}  // namespace

int32_t Str_ToInt(std::string_view Str, int32_t def) {
  int64_t v = 0;
  if (!ReadLeadingInteger(Str, v)) return def;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

int32_t StrToInt32Def(std::string_view Str, int32_t def) {
  int64_t v = 0;
  if (!ReadLeadingInteger(Str, v)) return def;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return def;
  return static_cast<int32_t>(v);
}

std::string ExtractFileNameOnly(std::string_view fname) {
  const size_t sep = fname.find_last_of("\\:/");
  const std::string_view name = (sep == std::string_view::npos) ? fname : fname.substr(sep + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::string(name);
  return std::string(name.substr(0, name.find(name.substr(dot))));
}
