// Parts of a path as text, the same on every system; nothing is looked up on disk.
#pragma once

#include <string>

// Directory part of a path with its trailing separator ("a/b/c.txt" -> "a/b/"), "" when none.
std::string ExtractFilePath(const std::string& path);
// Extension of the name part with its dot ("a/b.c.wzl" -> ".wzl"), "" when it has none; "\",
// ":" and "/" end the directory part.
std::string ExtractFileExt(const std::string& path);
