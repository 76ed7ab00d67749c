// The operating system's files behind TFileSource (platform/ReadFile.h) on Windows: opened for
// reading with read, write and delete sharing (a library may be renamed over while it is served),
// read at explicit offsets so that one open file serves any number of threads.
#include "platform/ReadFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/WideText.h"

namespace {

class WinReadFile final : public TReadFile {
 public:
  WinReadFile(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
  ~WinReadFile() override { CloseHandle(h_); }

  size_t ReadAt(uint64_t pos, void* buf, size_t len) const override {
    size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < len) {
      OVERLAPPED at{};
      const uint64_t offset = pos + done;
      if (offset < pos) break;  // past the largest offset (a corrupt header): nothing there
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD n = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(len - done, 1u << 30));
      if (!ReadFile(h_, out + done, want, &n, &at)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF) break;
        throw EInOutError("Cannot read file " + path_ + ": " + SystemErrorText(error));
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }

  uint64_t Size() const override {
    LARGE_INTEGER size{};
    return GetFileSizeEx(h_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }

 private:
  HANDLE h_;
  std::string path_;
};

class OsFileSource final : public TFileSource {
 public:
  std::unique_ptr<TReadFile> Open(const std::string& path) const override {
    const HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    // A directory is refused here too: opening one needs a flag this call does not give.
    if (h == INVALID_HANDLE_VALUE) throw EInOutError("Cannot open file " + path + ": " + SystemErrorText(GetLastError()));
    return std::make_unique<WinReadFile>(h, path);
  }
  bool Exists(const std::string& path) const override { return FileExists(path); }
  std::vector<std::string> List(const std::string& dir) const override { return ListFiles(dir); }
};

}  // namespace

const TFileSource& OsFiles() {
  static const OsFileSource source;
  return source;
}
