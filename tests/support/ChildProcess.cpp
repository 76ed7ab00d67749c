#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/FileSystem.h"

extern char** environ;

std::string BuiltProgram(const std::string& name) {
  const char* dir = std::getenv("NUVO_BUILD_DIR");
  return (dir && *dir ? std::string(dir) : ExecutableDir()) + "/" + name;
}

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::string& workDir) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigfillset(&defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    pid_ = -1;
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }
  reader_ = std::thread([this, fd = fds[0]] { ReadOutput(fd); });
}

TChildProcess::~TChildProcess() {
  if (Running()) {
    kill(pid_, SIGKILL);
    Wait(std::chrono::seconds(30));
  }
  if (reader_.joinable()) reader_.join();
}

void TChildProcess::ReadOutput(int fd) {
  std::string pending;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(chunk, static_cast<size_t>(n));
    size_t end;
    std::lock_guard hold(lock_);
    while ((end = pending.find('\n')) != std::string::npos) {
      lines_.push_back(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
    changed_.notify_all();
  }
  close(fd);
  std::lock_guard hold(lock_);
  if (!pending.empty()) lines_.push_back(pending);
  ended_ = true;
  changed_.notify_all();
}

std::optional<std::string> TChildProcess::WaitForLine(const std::function<bool(const std::string&)>& match,
                                                      std::chrono::milliseconds timeout, size_t from) {
  std::unique_lock hold(lock_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (size_t i = from;;) {
    for (; i < lines_.size(); ++i) {
      if (match(lines_[i])) return lines_[i];
    }
    if (ended_) return std::nullopt;
    if (changed_.wait_until(hold, deadline) == std::cv_status::timeout && i == lines_.size()) return std::nullopt;
  }
}

std::vector<std::string> TChildProcess::Lines() const {
  std::lock_guard hold(lock_);
  return lines_;
}

std::string TChildProcess::Output() const {
  std::string all;
  for (const std::string& line : Lines()) all += line + "\n";
  return all;
}

void TChildProcess::Signal(int sig) {
  if (Running()) kill(pid_, sig);
}

bool TChildProcess::Running() {
  if (status_ || pid_ < 0) return false;
  int raw = 0;
  const pid_t r = waitpid(pid_, &raw, WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return false;
  }
  return r == 0;
}

std::optional<int> TChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir, std::chrono::milliseconds timeout) {
  TRunResult result;
  TChildProcess child(program, args, workDir);
  result.Status = child.Wait(timeout).value_or(-1);
  child.WaitForLine([](const std::string&) { return false; }, std::chrono::seconds(5));  // output to its end
  result.Lines = child.Lines();
  return result;
}
