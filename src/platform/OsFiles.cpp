// The operating system's files behind TFileSource (platform/ReadFile.h): POSIX descriptors, read
// with pread so that one open file serves any number of threads.
#include "platform/ReadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/FileSystem.h"

namespace {

class PosixReadFile final : public TReadFile {
 public:
  PosixReadFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixReadFile() override { ::close(fd_); }

  size_t ReadAt(uint64_t pos, void* buf, size_t len) const override {
    // A position past the largest file offset (a corrupt header) reads nothing, like any
    // position past the end.
    constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
    if (pos >= kMaxOffset) return 0;
    len = static_cast<size_t>(std::min<uint64_t>(len, kMaxOffset - pos));
    size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < len) {
      ssize_t n = ::pread(fd_, out + done, len - done, static_cast<off_t>(pos + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw EInOutError("Cannot read file " + path_ + ": " + std::strerror(errno));
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

  uint64_t Size() const override {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }

 private:
  int fd_;
  std::string path_;
};

class OsFileSource final : public TFileSource {
 public:
  std::unique_ptr<TReadFile> Open(const std::string& path) const override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EInOutError("Cannot open file " + path + ": " + std::strerror(errno));
    return std::make_unique<PosixReadFile>(fd, path);
  }
  bool Exists(const std::string& path) const override { return FileExists(path); }
  std::vector<std::string> List(const std::string& dir) const override { return ListFiles(dir); }
};

}  // namespace

const TFileSource& OsFiles() {
  static const OsFileSource source;
  return source;
}
