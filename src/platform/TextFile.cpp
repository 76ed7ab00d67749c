#include "platform/TextFile.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string DecodeTextBytes(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(bytes.substr(3));
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") return Utf8FromUtf16Bytes(bytes.substr(2), false);
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") return Utf8FromUtf16Bytes(bytes.substr(2), true);
  return Utf8FromAnsi(bytes);
}

std::vector<std::string> ReadTextLines(const std::string& path) {
  return SplitTextLines(DecodeTextBytes(ReadFileBytes(path)));
}

void WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += AnsiFromUtf8(line);
    out += "\r\n";
  }
  WriteFileAtomic(path, out);
}
