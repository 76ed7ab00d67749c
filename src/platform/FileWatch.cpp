#include "platform/FileWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

struct TFileWatch::TState {
  int Fd = -1;
  std::unordered_map<int, std::string> Paths;  // watch descriptor -> path
};

TFileWatch::TFileWatch() : FState(std::make_unique<TState>()) {
  FState->Fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

TFileWatch::~TFileWatch() {
  if (FState->Fd >= 0) ::close(FState->Fd);
}

bool TFileWatch::Add(const std::string& path) {
  if (FState->Fd < 0) return false;
  // A write or truncation, a changed link count (replaced by a rename), a move or removal.
  const int wd = ::inotify_add_watch(FState->Fd, path.c_str(),
                                     IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF);
  if (wd < 0) return false;
  FState->Paths[wd] = path;
  return true;
}

std::vector<std::string> TFileWatch::Changed(std::chrono::milliseconds timeout) {
  std::vector<std::string> changed;
  if (FState->Fd < 0) return changed;
  pollfd p{FState->Fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return changed;
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t n = ::read(FState->Fd, buf, sizeof buf);
    if (n <= 0) break;  // EAGAIN: all taken
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      const auto it = FState->Paths.find(e->wd);
      if (it == FState->Paths.end()) continue;
      if (std::find(changed.begin(), changed.end(), it->second) == changed.end()) changed.push_back(it->second);
    }
  }
  return changed;
}
