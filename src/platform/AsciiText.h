// Letter-case and blank helpers that touch only the ASCII letters A-Z and a-z, as the settings
// file, the list files, file-name matching and the catalogue keys require; every other byte
// (including the bytes of multi-byte characters) is left alone. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

constexpr char LowerAsciiChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
constexpr char UpperAsciiChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

inline std::string LowerCaseAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAsciiChar(c);
  return out;
}

inline std::string UpperCaseAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAsciiChar(c);
  return out;
}

constexpr bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

constexpr bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAsciiChar(a[i]) != LowerAsciiChar(b[i])) return false;
  }
  return true;
}

constexpr bool StartsWithTextAscii(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameTextAscii(s.substr(0, prefix.size()), prefix);
}

// `s` without leading and trailing blanks and TABs.
constexpr std::string_view TrimBlanks(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}
