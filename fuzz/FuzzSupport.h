// Helpers shared by the fuzz targets and the seed generator: the input layouts of the targets that
// take several files in one input, and a scratch folder for the units that read files by name.
// One fuzzing process runs one input at a time; nothing here is synchronised.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Plain system calls: a stream costs several times as much, and the settings target writes a file
// set per input.
inline void WriteBytes(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  while (ok && !bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ok = n > 0;
    if (ok) bytes.remove_prefix(static_cast<size_t>(n));
  }
  if (fd >= 0) ::close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

// A folder of this process alone, in memory when /dev/shm exists, removed at a normal exit.
// Parallel jobs (libFuzzer -fork) share the working directory, so nothing a target writes may go
// there.
inline std::filesystem::path ScratchPath() {
  const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                         : std::filesystem::temp_directory_path();
  return base / ("nuvo-fuzz-" + std::to_string(::getpid()));
}

inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::filesystem::create_directories(ScratchPath());
    // Computes the path again: this handler runs after the static above is destroyed.
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchPath(), ec);
    });
    return ScratchPath();
  }();
  return dir;
}

// Runs the units that name their files relative to the working directory (settings, lists, work
// log) inside the scratch folder. A crash inside leaves the process there: the scripts give
// libFuzzer an absolute -artifact_prefix for that reason.
class TInScratchDir {
 public:
  TInScratchDir() : back_(std::filesystem::current_path()) { std::filesystem::current_path(ScratchDir()); }
  ~TInScratchDir() { std::filesystem::current_path(back_); }
  TInScratchDir(const TInScratchDir&) = delete;
  TInScratchDir& operator=(const TInScratchDir&) = delete;

 private:
  std::filesystem::path back_;
};

// ---- Library input: byte 0 holds flags, the rest the library ----
enum : uint8_t { kLibJpk = 1, kLibWrongPassword = 2, kLibSlots = 4 };

// WZL: a 32-bit little-endian split point, then the data file and the index file.
inline std::string WzlInput(uint8_t flags, std::string_view wzl, std::string_view wzx) {
  std::string in(1, static_cast<char>(flags & ~kLibJpk));
  for (int i = 0; i < 4; ++i) in.push_back(static_cast<char>(wzl.size() >> (8 * i)));
  return in.append(wzl).append(wzx);
}

// JPK: the file with its 80-byte header in plain (the target enciphers it).
inline std::string JpkInput(uint8_t flags, std::string_view plainFile) {
  return std::string(1, static_cast<char>(flags | kLibJpk)).append(plainFile);
}

// ---- Several files in one input, cut at a separator line ----
inline constexpr std::string_view kFileSeparator = "\n--8<--\n";

inline std::vector<std::string_view> SplitFiles(std::string_view in, size_t count) {
  std::vector<std::string_view> files;
  while (files.size() + 1 < count) {
    const size_t at = in.find(kFileSeparator);
    if (at == std::string_view::npos) break;
    files.push_back(in.substr(0, at));
    in.remove_prefix(at + kFileSeparator.size());
  }
  files.push_back(in);
  files.resize(count);
  return files;
}

inline std::string JoinFiles(const std::vector<std::string>& files) {
  std::string in;
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) in.append(kFileSeparator);
    in.append(files[i]);
  }
  return in;
}

// ---- JPK header input: a password of data[0] % 16 bytes, then the file as stored ----
inline std::string JpkHeaderInput(std::string_view password, std::string_view file) {
  return std::string(1, static_cast<char>(password.size() % 16)).append(password.substr(0, 15)).append(file);
}

}  // namespace fuzz
