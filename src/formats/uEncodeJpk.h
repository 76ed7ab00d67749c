// The cipher of JPK library headers: RC4 keyed with the SHA-1 digest of the password bytes.
// Reentrant: every call owns its cipher state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TRC4State {
  uint8_t S[256];
  uint8_t i;
  uint8_t j;
};

void RC4Init(TRC4State& State, const uint8_t* Key, size_t KeyLen);
// XORs `Len` bytes with the keystream, in place.
void RC4Apply(TRC4State& State, uint8_t* Data, size_t Len);
// Overwrites the state with 0xFF bytes so no key material outlives its use.
void RC4Wipe(TRC4State& State);

// Deciphers (or, the cipher being its own inverse, enciphers) `nSize` bytes; nothing for an
// empty key. The result belongs to the caller.
std::optional<std::string> DecodeDcpBuf(std::string_view sKey, const void* InData, int32_t nSize);
