#include "platform/ReadFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/AsciiText.h"
#include "platform/FileSystem.h"

namespace {

class MemoryReadFile final : public TReadFile {
 public:
  explicit MemoryReadFile(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}

  size_t ReadAt(uint64_t pos, void* buf, size_t len) const override {
    if (pos >= bytes_->size()) return 0;
    const size_t n = std::min<size_t>(len, bytes_->size() - static_cast<size_t>(pos));
    std::memcpy(buf, bytes_->data() + pos, n);
    return n;
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
