// Read-only random access to a file: the one way the library readers reach their files, which
// keeps the operating-system calls in this layer.
// ReadAt keeps no position, so concurrent reads of one object are safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TReadFile {
 public:
  virtual ~TReadFile() = default;
  // Reads up to `len` bytes at `pos`; returns the number read (short at the end of the file).
  // Throws EInOutError on an input/output failure.
  virtual size_t ReadAt(uint64_t pos, void* buf, size_t len) const = 0;
  virtual uint64_t Size() const = 0;
};

// Opens a file for reading only; never changes its permissions. Throws EInOutError.
std::unique_ptr<TReadFile> OpenReadFile(const std::string& path);
