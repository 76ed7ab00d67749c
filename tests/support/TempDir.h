// A fresh, empty directory for one test, removed with everything in it when the object goes.
// With `enter` (the default) it is also the current directory for its lifetime, so code that
// names files relative to the current directory (Config.ini, the list files, Logs/) works on it;
// the previous current directory is restored on destruction. Not for use from several threads.
#pragma once

#include <string>
#include <string_view>

class TempDir {
 public:
  explicit TempDir(bool enter = true);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Absolute path of the directory, without a trailing separator.
  const std::string& Path() const { return path_; }
  // Absolute path of `name` inside the directory.
  std::string PathOf(std::string_view name) const;
  // Creates or replaces a file inside the directory with exactly these bytes.
  void WriteFile(std::string_view name, std::string_view bytes) const;
  // A regular file (a link to one) that exists and opens but fails to be read, whoever runs the
  // test: permissions cannot show that, root reads past them.
  void WriteUnreadable(std::string_view name) const;
  // The bytes of a file inside the directory; empty when it does not exist.
  std::string ReadFile(std::string_view name) const;

 private:
  std::string path_;
  std::string previous_;  // empty when the directory was not entered
};
