// File-system access for the whole program: existence tests, directories, whole-file reads,
// appends and atomic replacement. Paths are UTF-8 as the operator wrote them ("/"-separated).
// Failures of input/output throw EInOutError; existence tests never throw.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FilePath.h"

class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool FileExists(const std::string& path);       // a regular file (or link to one)
bool DirectoryExists(const std::string& path);
// Creates the directory with every missing parent; false when it could not be made.
bool ForceDirectories(const std::string& path);
// Size of a file in bytes, or -1 when it cannot be examined.
int64_t FileSizeOf(const std::string& path);

// The whole content of a file. Throws EInOutError when it cannot be opened or read.
std::string ReadFileBytes(const std::string& path);
// The same into a caller's buffer, so one buffer can serve many files.
void ReadFileInto(const std::string& path, std::string& out);
// Appends bytes to a file, creating it when missing: all of them or, when the write fails, none
// (the file is cut back to its size before; callers serialise their appends to one file).
// Throws EInOutError on failure.
void AppendFileBytes(const std::string& path, std::string_view bytes);
// Replaces a file by writing a temporary file beside it and renaming it over the old one, so a
// failure leaves the old file whole. A symbolic link keeps being one: the file it leads to is
// replaced. A read-only file is refused and left as it is. Throws
// EInOutError("Unable to write to <path>") on failure.
void WriteFileAtomic(const std::string& path, std::string_view bytes);
// Creates an empty file when none exists. Throws EInOutError on failure.
void CreateEmptyFileIfMissing(const std::string& path);

// Throws EInOutError("Cannot read <path>: <reason>") when the directory's entries cannot be listed
// or reached (no read or search permission): every file in it would look missing.
void CheckDirectoryReadable(const std::string& path);

// Names of the regular files directly inside a directory (no sub-directories); empty when the
// directory cannot be read.
std::vector<std::string> ListFiles(const std::string& dir);

// Directory of the running executable, without a trailing separator.
std::string ExecutableDir();
// The process's current directory, absolute; empty when it cannot be had.
std::string CurrentDir();
// Makes `path` the process's current directory; false, with errno set, when it cannot.
bool SetCurrentDir(const std::string& path);
