// The four signals on Windows. They come from the console (its control handler), from the service
// manager (platform/ServiceHost), and from other processes through named events, one per signal
// and instance ("Local\NuvoClientDaemon.<hash of the instance>.<signal>"). All of them end in one
// queue that the waiter's thread takes from, as on Linux.
#include "platform/Signals.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/WideText.h"

namespace {

constexpr TSignal kAll[] = {TSignal::Hangup, TSignal::User1, TSignal::Terminate, TSignal::Interrupt};

const char* SignalName(TSignal s) {
  switch (s) {
    case TSignal::Hangup: return "reload";
    case TSignal::User1: return "restart";
    case TSignal::Terminate: return "stop";
    case TSignal::Interrupt: return "interrupt";
    case TSignal::None: break;
  }
  return "";
}

// Instances are named by their folders: one name however the folder is spelled in case.
std::wstring EventName(const std::string& instance, TSignal s) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (char c : LowerCaseAscii(instance)) {
    hash = (hash ^ static_cast<unsigned char>(c == '/' ? '\\' : c)) * 1099511628211ull;
  }
  char name[96];
  std::snprintf(name, sizeof name, "Local\\NuvoClientDaemon.%016llx.%s", static_cast<unsigned long long>(hash),
                SignalName(s));
  return WideFromUtf8(name);
}

struct TQueue {
  std::mutex Lock;
  std::deque<TSignal> Pending;
  HANDLE Ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset: set while anything is pending
};

TQueue& Queue() {
  static TQueue* queue = new TQueue;  // outlives every thread that may post, the console's included
  return *queue;
}

BOOL WINAPI ConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      PostSignal(TSignal::Interrupt);
      return TRUE;
    case CTRL_BREAK_EVENT:
      PostSignal(TSignal::Terminate);
      return TRUE;
    case CTRL_LOGOFF_EVENT:
      if (!GetConsoleWindow()) return FALSE;  // a service outlives the user's session
      [[fallthrough]];
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this handler returns: give the program time to stop as it would
      // on Terminate. It ends the process itself by returning from main meanwhile.
      PostSignal(TSignal::Terminate);
      Sleep(20000);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct TSignalWaiter::TSet {
  std::vector<TSignal> Wanted;
  std::vector<HANDLE> Events;  // named events of AcceptFrom, in the order of EventSignals
  std::vector<TSignal> EventSignals;
};

TSignalWaiter::TSignalWaiter(std::initializer_list<TSignal> signals) : FSet(std::make_unique<TSet>()) {
  FSet->Wanted.assign(signals.begin(), signals.end());
  SetConsoleCtrlHandler(ConsoleControl, TRUE);
}

TSignalWaiter::~TSignalWaiter() {
  SetConsoleCtrlHandler(ConsoleControl, FALSE);
  for (HANDLE h : FSet->Events) CloseHandle(h);
}

void TSignalWaiter::AcceptFrom(const std::string& instance) {
  for (TSignal s : kAll) {
    if (std::find(FSet->Wanted.begin(), FSet->Wanted.end(), s) == FSet->Wanted.end()) continue;
    if (const HANDLE h = CreateEventW(nullptr, FALSE, FALSE, EventName(instance, s).c_str())) {
      FSet->Events.push_back(h);
      FSet->EventSignals.push_back(s);
    }
  }
}

TSignal TSignalWaiter::Wait(std::chrono::milliseconds timeout) {
  TQueue& q = Queue();
  std::vector<HANDLE> handles{q.Ready};
  handles.insert(handles.end(), FSet->Events.begin(), FSet->Events.end());
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const DWORD rc = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                            static_cast<DWORD>(std::max<int64_t>(0, left.count())));
    if (rc == WAIT_OBJECT_0) {
      std::lock_guard hold(q.Lock);
      TSignal s = TSignal::None;
      if (!q.Pending.empty()) {
        s = q.Pending.front();
        q.Pending.pop_front();
      }
      if (!q.Pending.empty()) SetEvent(q.Ready);
      if (std::find(FSet->Wanted.begin(), FSet->Wanted.end(), s) != FSet->Wanted.end()) return s;
      continue;
    }
    if (rc > WAIT_OBJECT_0 && rc < WAIT_OBJECT_0 + handles.size()) return FSet->EventSignals[rc - WAIT_OBJECT_0 - 1];
    return TSignal::None;  // timeout
  }
}

void PostSignal(TSignal s) {
  TQueue& q = Queue();
  std::lock_guard hold(q.Lock);
  q.Pending.push_back(s);
  SetEvent(q.Ready);
}

bool SendSignal(const std::string& instance, TSignal s) {
  const HANDLE h = OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(instance, s).c_str());
  if (!h) return false;
  const bool sent = SetEvent(h) != 0;
  CloseHandle(h);
  return sent;
}

void IgnoreBrokenPipe() {}  // writes to a closed socket or pipe fail with an error on Windows
