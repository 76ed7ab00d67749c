#include "support/LogLines.h"

#include <utility>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "settings/TarnShare.h"

std::vector<std::string> WorkLogLines(const std::string& file) {
  std::vector<std::string> out;
  if (!FileExists(file)) return out;
  for (const std::string& line : SplitTextLines(DecodeTextBytes(ReadFileBytes(file)))) {
    const size_t p = line.find(' ', line.find(' ') + 1);
    out.push_back(p == std::string::npos ? line : line.substr(p + 1));
  }
  return out;
}

TLogSink TRecordedLog::Sink() {
  return [this](const std::string& line) {
    std::lock_guard hold(FLock);
    FLines.push_back(line);
  };
}

std::vector<std::string> TRecordedLog::Drain() {
  std::lock_guard hold(FLock);
  return std::exchange(FLines, {});
}

std::vector<std::string> DrainLogQueue() {
  std::vector<std::string> out;
  for (std::string& line : g_ErrorList.Drain()) {
    const size_t p = line.find("] ");
    out.push_back(p == std::string::npos ? line : line.substr(p + 2));
  }
  return out;
}
