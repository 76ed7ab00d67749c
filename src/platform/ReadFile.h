// Read-only file access for the library readers and the catalogue's load pass: random access to
// one file, and the file source they open files through (the operating system's files, or files
// held in memory for tests and fuzzing). Keeps the operating-system calls in this layer.
// ReadAt keeps no position, so concurrent reads of one object are safe; every source is safe
// from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TReadFile {
 public:
  virtual ~TReadFile() = default;
  // Reads up to `len` bytes at `pos`; returns the number read (short at the end of the file).
  // Throws EInOutError on an input/output failure.
  virtual size_t ReadAt(uint64_t pos, void* buf, size_t len) const = 0;
  // The same read when the bytes are at hand without waiting for a disk (in the page cache);
  // nothing when it would have to wait, or when the platform cannot tell. Never waits for input.
  virtual std::optional<size_t> ReadAtNoWait(uint64_t pos, void* buf, size_t len) const;
  virtual uint64_t Size() const = 0;
};

class TFileSource {
 public:
  virtual ~TFileSource() = default;
  // Opens a file for reading only; never changes its permissions. Throws EInOutError.
  virtual std::unique_ptr<TReadFile> Open(const std::string& path) const = 0;
  // True for a regular file (or a link to one); never throws.
  virtual bool Exists(const std::string& path) const = 0;
  // Names of the regular files directly inside `dir` (no sub-directories); empty when the
  // directory cannot be read.
  virtual std::vector<std::string> List(const std::string& dir) const = 0;
};

// The operating system's files.
const TFileSource& OsFiles();

// Files held in memory under their paths ("/"-separated); a folder is a path prefix ending in
// "/", "" the top. A file opened keeps the bytes it was opened with when it is replaced later.
class TMemoryFiles final : public TFileSource {
 public:
  void Put(const std::string& path, std::string bytes);
  void Remove(const std::string& path);

  std::unique_ptr<TReadFile> Open(const std::string& path) const override;
  bool Exists(const std::string& path) const override;
  std::vector<std::string> List(const std::string& dir) const override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const std::string>> files_;
};

// The whole content of a file into `out` (a caller's buffer, so one buffer can serve many files).
// Throws EInOutError when it cannot be opened or read.
void ReadWholeFile(const TFileSource& files, const std::string& path, std::string& out);
// `dir` + "/" + `name` when that file exists, else the first file of `dir` whose name equals
// `name` without regard to ASCII case, else empty.
std::string FindFileNoCase(const TFileSource& files, const std::string& dir, const std::string& name);
