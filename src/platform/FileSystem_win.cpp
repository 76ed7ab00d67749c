// File-system access on Windows: UTF-8 paths through the wide calls; every file is opened with
// read, write and delete sharing, so the operator may rename or replace a file the server holds.
#include "platform/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/WideText.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string ErrorText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + SystemErrorText(GetLastError());
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (ok()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const bool closed = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE h_;
};

HANDLE OpenShared(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileW(WideFromUtf8(path).c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(h, bytes.data(), chunk, &n, nullptr)) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

bool RenameOver(HANDLE h, const std::wstring& target) {
  constexpr DWORD kReplaceIfExists = 0x1, kPosixSemantics = 0x2;
  constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);  // the headers hide it behind a build number
  std::vector<char> buf(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf.data());
  info->Flags = kReplaceIfExists | kPosixSemantics;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), info->FileName);
  return SetFileInformationByHandle(h, kFileRenameInfoEx, info, static_cast<DWORD>(buf.size())) != 0;
}

DWORD Attributes(const std::string& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(WideFromUtf8(path).c_str());
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(WideFromUtf8(path)), ec);
  return DirectoryExists(path);
}

int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::string ReadFileBytes(const std::string& path) {
  std::string data;
  ReadFileInto(path, data);
  return data;
}

void ReadFileInto(const std::string& path, std::string& out) {
  out.clear();
  Handle h(OpenShared(path, GENERIC_READ, OPEN_EXISTING));
  if (!h.ok()) throw EInOutError(ErrorText("Cannot open file", path));
  LARGE_INTEGER size{};
  const size_t expected = GetFileSizeEx(h.get(), &size) && size.QuadPart > 0 ? static_cast<size_t>(size.QuadPart) : 0;
  out.resize(expected);
  size_t used = 0;
  // Reads to the end as it is now: the file may have grown since its size was taken.
  for (;;) {
    if (used == out.size()) out.resize(used + 16384);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - used, 1u << 30));
    if (!ReadFile(h.get(), out.data() + used, want, &n, nullptr)) throw EInOutError(ErrorText("Cannot read file", path));
    if (n == 0) break;
    used += n;
  }
  out.resize(used);
}

void AppendFileBytes(const std::string& path, std::string_view bytes) {
  // Append-only access: every write lands at the end, also with other writers of the file.
  Handle h(OpenShared(path, FILE_APPEND_DATA, OPEN_ALWAYS));
  if (!h.ok()) throw EInOutError(ErrorText("Cannot open file", path));
  if (!WriteAll(h.get(), bytes)) throw EInOutError(ErrorText("Cannot write file", path));
}

void WriteFileAtomic(const std::string& path, std::string_view bytes) {
  const std::string failure = "Unable to write to " + path;
  const DWORD old = Attributes(path);
  if (old != INVALID_FILE_ATTRIBUTES && (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) throw EInOutError(failure);
  const std::wstring target = WideFromUtf8(path);
  const std::wstring tmp = target + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
  Handle h(CreateFileW(tmp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) throw EInOutError(failure);
  bool ok = WriteAll(h.get(), bytes) && FlushFileBuffers(h.get());
  // A file the server holds open (with delete sharing) is replaced as on Linux only by a rename
  // with POSIX semantics (Windows 10 1809 and later); the classic rename is the fallback.
  const bool renamed = ok && RenameOver(h.get(), target);
  ok = h.Close() && ok;
  if (!ok || (!renamed && !MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))) {
    DeleteFileW(tmp.c_str());
    throw EInOutError(failure);
  }
}

void CreateEmptyFileIfMissing(const std::string& path) {
  if (FileExists(path)) return;
  Handle h(OpenShared(path, GENERIC_WRITE, OPEN_ALWAYS));
  if (!h.ok()) throw EInOutError(ErrorText("Cannot create file", path));
}

std::vector<std::string> ListFiles(const std::string& dir) {
  std::vector<std::string> names;
  std::string pattern = dir.empty() ? std::string(".") : dir;
  if (pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
  pattern += '*';
  WIN32_FIND_DATAW found{};
  const HANDLE find = FindFirstFileW(WideFromUtf8(pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(Utf8FromWide(found.cFileName));
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return names;
}

std::string ExecutableDir() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return Utf8FromWide(std::filesystem::current_path().native());
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Utf8FromWide(std::filesystem::path(path).parent_path().native());
}

std::string CurrentDir() {
  std::wstring dir(32768, L'\0');
  dir.resize(GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data()));
  return Utf8FromWide(dir);
}

bool SetCurrentDir(const std::string& path) {
  if (SetCurrentDirectoryW(WideFromUtf8(path).c_str())) return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
  return false;
}
