// The operator log's way out of a headless program: one UTF-8 line at a time to standard output,
// flushed at once. On Windows a console window gets wide characters (so the Chinese text shows
// whatever its code page), and a pipe or file gets UTF-8 as on Linux. One thread writes.
#pragma once

#include <string_view>

void WriteOutputLine(std::string_view utf8);
