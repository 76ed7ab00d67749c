#include "formats/uEncodeJpk.h"

#include <stdexcept>
#include <utility>

#include "platform/Sha1.h"

void RC4Init(TRC4State& State, const uint8_t* Key, size_t KeyLen) {
  for (int k = 0; k < 256; ++k) State.S[k] = static_cast<uint8_t>(k);
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + State.S[k] + Key[k % KeyLen]);
    std::swap(State.S[k], State.S[j]);
  }
  State.i = 0;
  State.j = 0;
}

void RC4Apply(TRC4State& State, uint8_t* Data, size_t Len) {
  uint8_t i = State.i, j = State.j;
  for (size_t n = 0; n < Len; ++n) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + State.S[i]);
    std::swap(State.S[i], State.S[j]);
    Data[n] ^= State.S[static_cast<uint8_t>(State.S[i] + State.S[j])];
  }
  State.i = i;
  State.j = j;
}

void RC4Wipe(TRC4State& State) {
  volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(&State);
  for (size_t n = 0; n < sizeof State; ++n) p[n] = 0xFF;
}

std::optional<std::string> DecodeDcpBuf(std::string_view sKey, const void* InData, int32_t nSize) {
  if (sKey.empty()) return std::nullopt;
  const TSha1Digest key = Sha1Digest(sKey);
  TRC4State state;
  RC4Init(state, key.data(), key.size());
  std::string out;
  try {
    out.assign(static_cast<const char*>(InData), nSize > 0 ? static_cast<size_t>(nSize) : 0);
  } catch (...) {
    RC4Wipe(state);
    throw;
  }
  RC4Apply(state, reinterpret_cast<uint8_t*>(out.data()), out.size());
  RC4Wipe(state);
  return out;
}
