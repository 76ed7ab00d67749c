#include "platform/IniFile.h"

#include "platform/AsciiText.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace {

std::string Trim(std::string_view s) { return std::string(TrimBlanks(s)); }

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

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  int s = FindSection(section);
  int end = 0;
  return s >= 0 && FindKey(s, key, &end) >= 0;
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
