// Process signals for a headless program, taken synchronously: the signals are blocked in every
// thread and one thread waits for them, so no handler ever runs and nothing has to be
// async-signal-safe. Create the waiter on the main thread before any other thread exists (threads
// inherit the blocked set); one thread at a time may Wait.
#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>

enum class TSignal { None, Hangup, User1, Terminate, Interrupt };

class TSignalWaiter {
 public:
  explicit TSignalWaiter(std::initializer_list<TSignal> signals);
  ~TSignalWaiter();
  TSignalWaiter(const TSignalWaiter&) = delete;
  TSignalWaiter& operator=(const TSignalWaiter&) = delete;

  // The next of the signals, or TSignal::None when none arrives within `timeout`.
  TSignal Wait(std::chrono::milliseconds timeout);

 private:
  struct TSet;
  std::unique_ptr<TSet> FSet;
};

// A write to a closed pipe or socket fails with an error instead of ending the process.
void IgnoreBrokenPipe();
