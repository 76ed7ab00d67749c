#include "support/TempDir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

fs::path MakeUniqueDirectory() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path p = base / ("nuvo-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(p, ec)) return p;
  }
  throw std::runtime_error("cannot create a temporary directory in " + base.string());
}

}  // namespace

TempDir::TempDir(bool enter) : path_(MakeUniqueDirectory().string()) {
  if (enter) {
    previous_ = fs::current_path().string();
    fs::current_path(path_);
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!previous_.empty()) fs::current_path(previous_, ec);
  // Give back the write bits a test may have taken, so that everything can be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    // Links are left alone: they may lead outside (see WriteUnreadable).
    std::error_code ignored;
    if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::PathOf(std::string_view name) const { return (fs::path(path_) / name).string(); }

void TempDir::WriteFile(std::string_view name, std::string_view bytes) const {
  std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + PathOf(name));
}

void TempDir::WriteUnreadable(std::string_view name) const {
  // Opening works, and reading at offset 0 fails with an I/O error: address 0 is never mapped.
  fs::create_symlink("/proc/self/mem", PathOf(name));
}

std::string TempDir::ReadFile(std::string_view name) const {
  std::ifstream in(PathOf(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
