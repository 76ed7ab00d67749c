// Notice of changes to files on disk (written, truncated, replaced or removed), so the catalogue
// can tell the operator that a library it serves changed underneath it. One thread owns a watch:
// it adds the files and takes the changes; nothing is shared.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class TFileWatch {
 public:
  TFileWatch();  // a watch that cannot be made watches nothing
  ~TFileWatch();
  TFileWatch(const TFileWatch&) = delete;
  TFileWatch& operator=(const TFileWatch&) = delete;

  // Watches `path`; false when it cannot be watched.
  bool Add(const std::string& path);
  // The watched paths that changed since the last call, each once; waits up to `timeout` for one.
  std::vector<std::string> Changed(std::chrono::milliseconds timeout);

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};
