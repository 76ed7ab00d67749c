// The one text-file reader and writer. Reading honours byte-order marks (UTF-8, UTF-16 LE/BE) and
// otherwise decodes code page 936; CR, LF and CR LF end a line, and a final line break adds no
// empty line. Writing encodes code page 936 with CR LF after every line and replaces the file
// atomically. Lines are UTF-8 in memory. Failures throw EInOutError (platform/FileSystem.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits already-decoded text into lines by the rules above.
std::vector<std::string> SplitTextLines(std::string_view text);
// Decodes file bytes (BOM or code page 936) to UTF-8 text.
std::string DecodeTextBytes(std::string_view bytes);

std::vector<std::string> ReadTextLines(const std::string& path);
void WriteTextLines(const std::string& path, const std::vector<std::string>& lines);
