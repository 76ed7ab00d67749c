#include "support/SampleBody.h"

#include <cstdint>

std::string SampleResponseBody(std::size_t size) {
  static const char* words[] = {"wzl ", "hum ", "0x3f7a ", "map ", "\x01\x02\x03", "tiles ", "\xff\xfe ", "jpk ",
                                "idx ", "12 ", "mon ", "\r\n", "wav ", "\x10\x20", "obj ", "light "};
  std::string s;
  uint32_t x = 12345;
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += words[(x >> 16) & 15];
    s += char(x >> 24);
  }
  s.resize(size);
  return s;
}
