// Process signals for a headless program, taken synchronously: the signals are blocked in every
// thread and one thread waits for them, so no handler ever runs and nothing has to be
// async-signal-safe. Create the waiter on the main thread before any other thread exists (threads
// inherit the blocked set); one thread at a time may Wait. On Windows the same four arrive from
// the console (Ctrl+C is Interrupt; Ctrl+Break, closing the window, logoff and shutdown are
// Terminate), from the service manager, and from a control command of another process.
#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>

enum class TSignal { None, Hangup, User1, Terminate, Interrupt };

class TSignalWaiter {
 public:
  explicit TSignalWaiter(std::initializer_list<TSignal> signals);
  ~TSignalWaiter();
  TSignalWaiter(const TSignalWaiter&) = delete;
  TSignalWaiter& operator=(const TSignalWaiter&) = delete;

  // The next of the signals, or TSignal::None when none arrives within `timeout`.
  TSignal Wait(std::chrono::milliseconds timeout);
  // Lets other processes reach this waiter through SendSignal(instance, ...) where the system has
  // no signals (Windows); a no-op on Linux, whose programs are reached by kill.
  void AcceptFrom(const std::string& instance);

 private:
  struct TSet;
  std::unique_ptr<TSet> FSet;
};

// Delivers `s` to the process's waiter as if it came from outside. Any thread.
void PostSignal(TSignal s);
// Sends `s` to the waiter of another process that accepts from `instance`; false when none does
// (always on Linux: use kill).
bool SendSignal(const std::string& instance, TSignal s);

// A write to a closed pipe or socket fails with an error instead of ending the process.
void IgnoreBrokenPipe();
