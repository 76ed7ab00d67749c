// Field splitters, number conversions, the JPK list line parser and the token decoder on arbitrary
// bytes. The first byte chooses how many of the following bytes are the delimiters.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/TextFile.h"
#include "platform/HUtil32.h"
#include "settings/TarnShare.h"
#include "service/RequestToken.h"

namespace {

using fuzz::Check;

using Splitter = std::string (*)(std::string_view, std::string&, std::string_view);

// Every call takes at least one byte off the text, and the field holds no delimiter or NUL byte.
void WalkFields(Splitter split, std::string_view text, std::string_view divider) {
  std::string s(text);
  while (!s.empty()) {
    std::string field;
    std::string rest = split(s, field, divider);
    Check(rest.size() < s.size() || (s.size() >= kMaxValidStrLen && rest.empty()));
    Check(field.size() <= s.size());
    Check(field.find('\0') == std::string::npos);
    for (char d : divider) Check(field.find(d) == std::string::npos);
    s = std::move(rest);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t dividers = data[0] % 4;
  const std::string_view divider = in.substr(1, dividers);
  const std::string_view text = in.substr(std::min(size, 1 + dividers));

  WalkFields(GetValidStr32, text, divider);
  WalkFields(GetValidStr3, text, divider);

  Str_ToInt(text, 0);
  Hex_ToInt(text);
  ExtractFileNameOnly(text);
  uint16_t port = 0;
  ParsePortValue(text, port);

  TNameValue pair;
  for (const std::string& line : SplitTextLines(DecodeTextBytes(text))) {
    if (!ParseJpkListLine(line, pair)) continue;
    Check(!pair.Name.empty() && !pair.Value.empty());
    Check(pair.Name.find_first_of("|\t") == std::string::npos);
    Check(pair.Value.find_first_of("|\t") == std::string::npos);
  }

  std::array<uint8_t, 16> key{};
  for (size_t i = 0; i < key.size() && i < size; ++i) key[i] = data[i];
  Check(SimpleDeStringMsg(text, key).size() == text.size() / 2);
  Check(SimpleDeStringMsg(SimpleEnStringMsg(text, key), key) == text);
  return 0;
}
