#include "platform/FilePath.h"

std::string ExtractFileExt(const std::string& path) {
  const size_t p = path.find_last_of(".\\:/");
  return (p == std::string::npos || path[p] != '.') ? std::string() : path.substr(p);
}

std::string ExtractFilePath(const std::string& path) {
  size_t p = path.find_last_of("/\\:");
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}
