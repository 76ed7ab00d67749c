#include "platform/IniFile.h"

#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool IsSectionLine(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  if (FileExists(path_)) lines_ = ReadTextLines(path_);
}

int TIniFile::FindSection(const std::string& section) const {
  std::string name;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (IsSectionLine(lines_[i], &name) && SameTextAscii(name, section)) return static_cast<int>(i);
  }
  return -1;
}

int TIniFile::FindKey(int sectionLine, const std::string& key, int* end) const {
  std::string name;
  int found = -1;
  *end = sectionLine + 1;
  for (size_t i = static_cast<size_t>(sectionLine) + 1; i < lines_.size(); ++i) {
    const std::string& line = lines_[i];
    if (IsSectionLine(line, &name)) break;
    if (!Trim(line).empty()) *end = static_cast<int>(i) + 1;
    size_t eq = line.find('=');
    if (found < 0 && eq != std::string::npos && SameTextAscii(Trim(line.substr(0, eq)), key)) {
      found = static_cast<int>(i);
    }
  }
  return found;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  int s = FindSection(section);
  if (s < 0) return def;
  int end = 0;
  int k = FindKey(s, key, &end);
  if (k < 0) return def;
  const std::string& line = lines_[static_cast<size_t>(k)];
  return Trim(line.substr(line.find('=') + 1));
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::string entry = key + "=" + value;
  int s = FindSection(section);
  if (s < 0) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + section + "]");
    lines_.push_back(entry);
    return;
  }
  int end = 0;
  int k = FindKey(s, key, &end);
  if (k >= 0) {
    lines_[static_cast<size_t>(k)] = entry;
  } else {
    lines_.insert(lines_.begin() + end, entry);
  }
}

void TIniFile::UpdateFile() const { WriteTextLines(path_, lines_); }
