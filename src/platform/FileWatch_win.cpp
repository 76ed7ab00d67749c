// Changed-file notice on Windows by comparing each watched file's size, write time and creation
// time with what they were when last looked at. The catalogue asks twice a second for a few dozen
// files, and unlike a directory change watch this needs no handle on the library's folder (which
// would keep the operator from renaming it) and sees the file whatever folder it lives in.
#include "platform/FileWatch.h"

#include <windows.h>

#include <algorithm>
#include <thread>

#include "platform/WideText.h"

namespace {

struct TStamp {
  bool Exists = false;
  uint64_t Size = 0, Written = 0, Created = 0;
  bool operator==(const TStamp&) const = default;
};

uint64_t Ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

TStamp StampOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  TStamp s;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return s;
  s.Exists = true;
  s.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  s.Written = Ticks(data.ftLastWriteTime);
  s.Created = Ticks(data.ftCreationTime);
  return s;
}

}  // namespace

struct TFileWatch::TState {
  struct TEntry {
    std::string Path;
    std::wstring Wide;
    TStamp Stamp;
  };
  std::vector<TEntry> Files;
};

TFileWatch::TFileWatch() : FState(std::make_unique<TState>()) {}

TFileWatch::~TFileWatch() = default;

bool TFileWatch::Add(const std::string& path) {
  TState::TEntry e{path, WideFromUtf8(path), {}};
  e.Stamp = StampOf(e.Wide);
  if (!e.Stamp.Exists) return false;
  FState->Files.push_back(std::move(e));
  return true;
}

std::vector<std::string> TFileWatch::Changed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<std::string> changed;
  for (;;) {
    for (TState::TEntry& e : FState->Files) {
      const TStamp now = StampOf(e.Wide);
      if (now == e.Stamp) continue;
      e.Stamp = now;
      if (std::find(changed.begin(), changed.end(), e.Path) == changed.end()) changed.push_back(e.Path);
    }
    if (!changed.empty() || std::chrono::steady_clock::now() >= deadline) return changed;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(timeout, std::chrono::milliseconds(100)));
  }
}
