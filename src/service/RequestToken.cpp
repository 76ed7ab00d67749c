#include "service/RequestToken.h"

#include "platform/HUtil32.h"

namespace {

// The whole key acts through one byte.
uint8_t TokenKeyByte(const std::array<uint8_t, 16>& k) {
  const uint8_t param1 = k[4] ^ k[2] ^ (k[3] & k[1]);
  const uint8_t param2 = k[6] ^ k[5] ^ (k[7] & k[8]);
  return param1 ^ param2;
}

}  // namespace

std::string SimpleDeStringMsg(std::string_view Src, const std::array<uint8_t, 16>& KeyBytes) {
  std::string result;
  if (Src.empty()) return result;
  const uint8_t key = TokenKeyByte(KeyBytes);
  result.resize(Src.size() / 2);
  for (size_t i = 0; i < result.size(); ++i) {
    const int pair = 16 * HexDigitValue(Src[2 * i]) + HexDigitValue(Src[2 * i + 1]);
    result[i] = static_cast<char>(static_cast<uint8_t>(pair - 3) ^ key);
  }
  return result;
}

std::string SimpleEnStringMsg(std::string_view Plain, const std::array<uint8_t, 16>& KeyBytes) {
  static const char kHex[] = "0123456789ABCDEF";
  const uint8_t key = TokenKeyByte(KeyBytes);
  std::string token;
  token.reserve(Plain.size() * 2);
  for (char c : Plain) {
    const uint8_t v = static_cast<uint8_t>((static_cast<uint8_t>(c) ^ key) + 3);
    token += kHex[v >> 4];
    token += kHex[v & 15];
  }
  return token;
}
