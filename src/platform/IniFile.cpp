#include "platform/IniFile.h"

#include "platform/AsciiText.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace {

// Works on views: every look-up scans all lines, and a copy per line made that the file's cost.
bool IsSectionLine(std::string_view line, std::string_view* name) {
  const std::string_view t = TrimBlanks(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const size_t close = t.find(']');
  if (close == std::string_view::npos) return false;
  *name = TrimBlanks(t.substr(1, close - 1));
  return true;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  if (FileExists(path_)) lines_ = ReadTextLines(path_);
}

int TIniFile::FindSection(const std::string& section) const {
  std::string_view name;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (IsSectionLine(lines_[i], &name) && SameTextAscii(name, section)) return static_cast<int>(i);
  }
  return -1;
}

int TIniFile::FindKey(int sectionLine, const std::string& key, int* end) const {
  std::string_view name;
  int found = -1;
  *end = sectionLine + 1;
  for (size_t i = static_cast<size_t>(sectionLine) + 1; i < lines_.size(); ++i) {
    const std::string_view line = lines_[i];
    if (IsSectionLine(line, &name)) break;
    if (!TrimBlanks(line).empty()) *end = static_cast<int>(i) + 1;
    const size_t eq = line.find('=');
    if (found < 0 && eq != std::string_view::npos && SameTextAscii(TrimBlanks(line.substr(0, eq)), key)) {
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
  const std::string_view line = lines_[static_cast<size_t>(k)];
  return std::string(TrimBlanks(line.substr(line.find('=') + 1)));
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
    if (!lines_.empty() && !TrimBlanks(lines_.back()).empty()) lines_.emplace_back();
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
