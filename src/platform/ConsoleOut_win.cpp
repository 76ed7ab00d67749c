#include "platform/ConsoleOut.h"

#include <windows.h>

#include <cstdio>

#include "platform/WideText.h"

void WriteOutputLine(std::string_view utf8) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode)) {
    std::fflush(stdout);  // what the C library holds goes first
    const std::wstring wide = WideFromUtf8(utf8) + L"\r\n";
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // A pipe or a file: the UTF-8 bytes and a bare line feed, the same log as on Linux.
  std::string line(utf8);
  line += '\n';
  std::fflush(stdout);
  DWORD written = 0;
  if (out != INVALID_HANDLE_VALUE && out != nullptr) WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
