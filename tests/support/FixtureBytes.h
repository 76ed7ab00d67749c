// Small byte helpers the fixtures share: little-endian fields and a pseudo-random sequence that
// is the same on every platform (unlike the standard distributions). Free functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the low `width` bytes of `value` at `at`, least significant first.
inline void PutLE(std::string& out, size_t at, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

// Four bytes, least significant first.
inline std::string LE32(uint32_t v) {
  std::string s(4, '\0');
  PutLE(s, 0, v, 4);
  return s;
}

// xorshift32 from the given state (never 0).
class TXorShift32 {
 public:
  explicit TXorShift32(uint32_t state) : x_(state) {}
  uint32_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return x_;
  }
  int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1)); }

 private:
  uint32_t x_;
};
