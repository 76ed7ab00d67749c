// SHA-1 of a byte string, from the system's own cryptography: libcrypto on Linux, CNG on Windows.
// Any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using TSha1Digest = std::array<uint8_t, 20>;

// Throws std::runtime_error when the system cannot compute it.
TSha1Digest Sha1Digest(std::string_view bytes);
