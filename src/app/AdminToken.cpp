#include "app/AdminToken.h"

#include <cstdint>

#include "platform/AsciiText.h"
#include "platform/FileSystem.h"
#include "platform/SecretFile.h"

namespace {

constexpr size_t kTokenBytes = 32;         // 256 bits
constexpr size_t kShortestKeptToken = 32;  // characters an operator's own token must have at least
constexpr size_t kLongestKeptToken = 1024;

std::string HexText(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    out += kHex[static_cast<uint8_t>(c) >> 4];
    out += kHex[static_cast<uint8_t>(c) & 15];
  }
  return out;
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

// A token travels in a header line and a URL fragment: visible ASCII only.
bool UsableToken(std::string_view token) {
  if (token.size() < kShortestKeptToken || token.size() > kLongestKeptToken) return false;
  for (const char c : token)
    if (c <= ' ' || c > '~') return false;
  return true;
}

}  // namespace

std::string LoadOrCreateAdminToken(const std::string& path) {
  const std::string fresh = HexText(SecureRandomBytes(kTokenBytes));
  if (CreatePrivateFile(path, fresh + "\n")) return fresh;
  if (!IsPrivateFile(path)) throw EInOutError(path + " may be read by others than its owner (chmod 600 it)");
  const std::string text = ReadFileBytes(path);
  const std::string_view token = Trimmed(text);
  if (!UsableToken(token))
    throw EInOutError(path + " holds no usable token (32 to 1024 visible ASCII characters); remove it to have one made");
  return std::string(token);
}

std::string_view BearerToken(std::string_view inHeaders) {
  std::string_view found;
  int count = 0;
  while (!inHeaders.empty()) {
    const size_t end = inHeaders.find("\r\n");
    const std::string_view line = inHeaders.substr(0, end);
    inHeaders.remove_prefix(end == std::string_view::npos ? inHeaders.size() : end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !SameTextAscii(line.substr(0, colon), "Authorization")) continue;
    ++count;
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (value.size() > 7 && StartsWithTextAscii(value, "Bearer ")) found = Trimmed(value.substr(7));
  }
  return count == 1 ? found : std::string_view();
}

bool SameToken(std::string_view given, std::string_view token) {
  // Every byte of the token is looked at, whatever `given` holds; only the verdict depends on it.
  unsigned diff = given.size() == token.size() ? 0u : 1u;
  for (size_t i = 0; i < token.size(); ++i) {
    const char g = i < given.size() ? given[i] : '\0';
    diff |= static_cast<unsigned>(static_cast<uint8_t>(g) ^ static_cast<uint8_t>(token[i]));
  }
  return diff == 0 && !token.empty();
}
