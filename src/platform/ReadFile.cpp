#include "platform/ReadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/AsciiText.h"
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

  std::optional<size_t> ReadAtNoWait(uint64_t pos, void* buf, size_t len) const override {
#ifdef RWF_NOWAIT
    // Kernels or file systems without the flag say so once; every read goes the waiting way then.
    static std::atomic<bool> unsupported{false};
    if (unsupported.load(std::memory_order_relaxed)) return std::nullopt;
    constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
    if (pos >= kMaxOffset) return 0;
    len = static_cast<size_t>(std::min<uint64_t>(len, kMaxOffset - pos));
    size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < len) {
      iovec part{out + done, len - done};
      ssize_t n = ::preadv2(fd_, &part, 1, static_cast<off_t>(pos + done), RWF_NOWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return std::nullopt;
        if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) {
          unsupported.store(true, std::memory_order_relaxed);
          return std::nullopt;
        }
        throw EInOutError("Cannot read file " + path_ + ": " + std::strerror(errno));
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
#else
    return std::nullopt;
#endif
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

class MemoryReadFile final : public TReadFile {
 public:
  explicit MemoryReadFile(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}

  size_t ReadAt(uint64_t pos, void* buf, size_t len) const override {
    if (pos >= bytes_->size()) return 0;
    const size_t n = std::min<size_t>(len, bytes_->size() - static_cast<size_t>(pos));
    std::memcpy(buf, bytes_->data() + pos, n);
    return n;
  }
  std::optional<size_t> ReadAtNoWait(uint64_t pos, void* buf, size_t len) const override {
    return ReadAt(pos, buf, len);
  }
  uint64_t Size() const override { return bytes_->size(); }

 private:
  std::shared_ptr<const std::string> bytes_;
};

// "a/b" and "a/b/" name the same folder; "" the top.
std::string FolderPrefix(const std::string& dir) {
  return dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

}  // namespace

std::optional<size_t> TReadFile::ReadAtNoWait(uint64_t, void*, size_t) const { return std::nullopt; }

const TFileSource& OsFiles() {
  static const OsFileSource source;
  return source;
}

void TMemoryFiles::Put(const std::string& path, std::string bytes) {
  auto shared = std::make_shared<const std::string>(std::move(bytes));
  std::lock_guard lock(mutex_);
  files_[path] = std::move(shared);
}

void TMemoryFiles::Remove(const std::string& path) {
  std::lock_guard lock(mutex_);
  files_.erase(path);
}

std::unique_ptr<TReadFile> TMemoryFiles::Open(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto it = files_.find(path);
  if (it == files_.end()) throw EInOutError("Cannot open file " + path + ": no such file");
  return std::make_unique<MemoryReadFile>(it->second);
}

bool TMemoryFiles::Exists(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return files_.count(path) != 0;
}

std::vector<std::string> TMemoryFiles::List(const std::string& dir) const {
  const std::string prefix = FolderPrefix(dir);
  std::vector<std::string> names;
  std::lock_guard lock(mutex_);
  for (auto it = files_.lower_bound(prefix); it != files_.end() && it->first.starts_with(prefix); ++it) {
    const std::string name = it->first.substr(prefix.size());
    if (name.find('/') == std::string::npos) names.push_back(name);
  }
  return names;
}

void ReadWholeFile(const TFileSource& files, const std::string& path, std::string& out) {
  const std::unique_ptr<TReadFile> file = files.Open(path);
  out.resize(static_cast<size_t>(file->Size()));
  size_t used = file->ReadAt(0, out.data(), out.size());
  // Reads on to the end as it is now: the file may have grown or shrunk since its size was taken.
  while (used == out.size()) {
    out.resize(used + 65536);
    const size_t n = file->ReadAt(used, out.data() + used, out.size() - used);
    if (n == 0) break;
    used += n;
  }
  out.resize(used);
}

std::string FindFileNoCase(const TFileSource& files, const std::string& dir, const std::string& name) {
  const std::string base = FolderPrefix(dir);
  if (files.Exists(base + name)) return base + name;
  for (const std::string& candidate : files.List(dir)) {
    if (SameTextAscii(candidate, name)) return base + candidate;
  }
  return {};
}
