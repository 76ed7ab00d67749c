#include "platform/ConsoleOut.h"

#include <cstdio>

void WriteOutputLine(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
