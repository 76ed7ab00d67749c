#include "platform/SecretFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"

std::string SecureRandomBytes(size_t count) {
  std::string out(count, '\0');
  size_t have = 0;
  while (have < count) {
    const ssize_t n = ::getrandom(out.data() + have, count - have, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EInOutError(std::string("getrandom: ") + std::strerror(errno));
    }
    have += static_cast<size_t>(n);
  }
  return out;
}

bool CreatePrivateFile(const std::string& path, const std::string& bytes) {
  // O_EXCL: never write through a link or over a file someone else put there first.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    throw EInOutError("Unable to create " + path + ": " + std::strerror(errno));
  }
  std::string_view rest = bytes;
  int error = 0;
  if (::fchmod(fd, 0600) != 0) error = errno;  // a umask may have taken the owner's own bits
  while (error == 0 && !rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n > 0) rest.remove_prefix(static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) error = n == 0 ? EIO : errno;
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  ::close(fd);
  if (error != 0) {
    ::unlink(path.c_str());
    throw EInOutError("Unable to write to " + path + ": " + std::strerror(error));
  }
  return true;
}

bool IsPrivateFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}
