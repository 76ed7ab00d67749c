// A program started by an end-to-end test: its standard output and error collected line by line
// on a thread of its own, signals sent to it, and its exit status. A process still running when
// the object goes is killed and reaped. One test thread drives an object; Lines and WaitForLine
// may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Path of a program built beside the tests: $NUVO_BUILD_DIR/name, else beside the test program.
std::string BuiltProgram(const std::string& name);

class TChildProcess {
 public:
  // Starts `program` with `args` in `workDir`, with the default disposition of every signal.
  // Throws std::runtime_error when it cannot be started.
  TChildProcess(const std::string& program, const std::vector<std::string>& args, const std::string& workDir);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // The first line from index `from` on for which `match` holds, or nothing after `timeout` or
  // when the output ended without one.
  std::optional<std::string> WaitForLine(const std::function<bool(const std::string&)>& match,
                                         std::chrono::milliseconds timeout, size_t from = 0);
  std::vector<std::string> Lines() const;
  // Everything printed so far, for failure messages.
  std::string Output() const;

  void Signal(int sig);
  // The exit status, 128 + the signal's number when a signal ended it, or nothing after `timeout`.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  bool Running();

 private:
  void ReadOutput(int fd);

  int pid_ = -1;
  std::optional<int> status_;
  std::thread reader_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool ended_ = false;
};

struct TRunResult {
  int Status = -1;  // as TChildProcess::Wait; -1 when the program outran the timeout (it is killed)
  std::vector<std::string> Lines;
};
// Runs a program to its end.
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir, std::chrono::milliseconds timeout);
