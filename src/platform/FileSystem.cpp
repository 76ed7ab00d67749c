#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>


namespace {

std::string ErrorText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The file a chain of symbolic links ends at (`path` itself when it is none); empty when the
// chain loops or cannot be read.
std::string LinkTarget(const std::string& path) {
  constexpr int kMaxHops = 40;
  std::filesystem::path p = path;
  std::error_code ec;
  for (int hop = 0; std::filesystem::is_symlink(p, ec); ++hop) {
    const std::filesystem::path next = std::filesystem::read_symlink(p, ec);
    if (ec || hop == kMaxHops) return {};
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return p.string();
}

// A file the operator made read-only has no write bit at all; root would write it regardless.
bool Writable(const std::string& path, mode_t mode) {
  return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return DirectoryExists(path);
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::string ReadFileBytes(const std::string& path) {
  std::string data;
  ReadFileInto(path, data);
  return data;
}

namespace {

// Bytes read into `buf`, 0 at the end of the file.
size_t ReadSome(int fd, char* buf, size_t size, const std::string& path) {
  for (;;) {
    const ssize_t n = ::read(fd, buf, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw EInOutError(ErrorText("Cannot read file", path));
  }
}

}  // namespace

void ReadFileInto(const std::string& path, std::string& out) {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw EInOutError(ErrorText("Cannot open file", path));
  struct stat st {};
  const size_t expected = (::fstat(fd.get(), &st) == 0 && st.st_size > 0) ? static_cast<size_t>(st.st_size) : 0;
  out.resize(expected);
  size_t used = 0;
  while (used < out.size()) {
    const size_t n = ReadSome(fd.get(), out.data() + used, out.size() - used, path);
    if (n == 0) break;
    used += n;
  }
  out.resize(used);
  // A file that grew since its size was taken, or one that reports none (/proc): read on to its
  // end through a small buffer, so the common case neither grows nor copies the whole file.
  char chunk[16384];
  while (const size_t n = ReadSome(fd.get(), chunk, sizeof chunk, path)) out.append(chunk, n);
}

void AppendFileBytes(const std::string& path, std::string_view bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) throw EInOutError(ErrorText("Cannot open file", path));
  if (!WriteAll(fd.get(), bytes)) throw EInOutError(ErrorText("Cannot write file", path));
  // A file system may report a failed write only when the file is closed.
  if (::close(fd.release()) != 0) throw EInOutError(ErrorText("Cannot close file", path));
}

void WriteFileAtomic(const std::string& path, std::string_view bytes) {
  const std::string failure = "Unable to write to " + path;
  // A link stays a link: its final target is replaced, beside itself.
  const std::string target = LinkTarget(path);
  if (target.empty()) throw EInOutError(failure);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && !Writable(target, old.st_mode)) throw EInOutError(failure);
  std::string tmpl = target + ".tmpXXXXXX";
  Fd fd(::mkstemp(tmpl.data()));
  if (fd.get() < 0) throw EInOutError(failure);
  const mode_t mode = exists ? (old.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  ok = (::close(fd.release()) == 0) && ok;
  if (!ok || ::rename(tmpl.c_str(), target.c_str()) != 0) {
    ::unlink(tmpl.c_str());
    throw EInOutError(failure);
  }
}

void CreateEmptyFileIfMissing(const std::string& path) {
  if (FileExists(path)) return;
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) throw EInOutError(ErrorText("Cannot create file", path));
}

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string full = dir.empty() ? name : (dir.back() == '/' ? dir + name : dir + "/" + name);
    if (FileExists(full)) names.push_back(name);
  }
  ::closedir(d);
  return names;
}

std::string ExtractFileExt(const std::string& path) {
  const size_t p = path.find_last_of(".\\:/");
  return (p == std::string::npos || path[p] != '.') ? std::string() : path.substr(p);
}

std::string ExtractFilePath(const std::string& path) {
  size_t p = path.find_last_of("/\\:");
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExecutableDir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec).string();
  return exe.parent_path().string();
}
