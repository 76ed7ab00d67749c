// Settings file with the private-profile rules: section and key names compared without regard to
// ASCII case, values trimmed of surrounding blanks, every other line kept when writing.
// Not synchronised; the owner serialises use.
#pragma once

#include <string>
#include <vector>

class TIniFile {
 public:
  // Reads the file when it exists (never creates it). Throws EInOutError when it exists but
  // cannot be read.
  explicit TIniFile(std::string path);

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // Changes the value in memory, adding the key (and the section) when missing.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Writes the file atomically. Throws EInOutError("Unable to write to <path>") on failure.
  void UpdateFile() const;

 private:
  // Index of the section line, or -1.
  int FindSection(const std::string& section) const;
  // Index of the key line inside the section starting at `sectionLine`, or -1; `end` receives
  // the index after the section's last non-blank line.
  int FindKey(int sectionLine, const std::string& key, int* end) const;

  std::string path_;
  std::vector<std::string> lines_;
};
