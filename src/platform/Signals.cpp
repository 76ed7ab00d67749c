#include "platform/Signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

int SignalNumber(TSignal s) {
  switch (s) {
    case TSignal::Hangup: return SIGHUP;
    case TSignal::User1: return SIGUSR1;
    case TSignal::Terminate: return SIGTERM;
    case TSignal::Interrupt: return SIGINT;
    case TSignal::None: break;
  }
  return 0;
}

}  // namespace

struct TSignalWaiter::TSet {
  sigset_t Signals;
};

TSignalWaiter::TSignalWaiter(std::initializer_list<TSignal> signals) : FSet(std::make_unique<TSet>()) {
  sigemptyset(&FSet->Signals);
  for (TSignal s : signals) {
    if (const int n = SignalNumber(s)) sigaddset(&FSet->Signals, n);
  }
  if (const int rc = pthread_sigmask(SIG_BLOCK, &FSet->Signals, nullptr)) {
    throw std::system_error(rc, std::system_category(), "pthread_sigmask");
  }
}

TSignalWaiter::~TSignalWaiter() = default;

TSignal TSignalWaiter::Wait(std::chrono::milliseconds timeout) {
  const auto ms = timeout.count() < 0 ? 0 : timeout.count();
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  const int n = sigtimedwait(&FSet->Signals, nullptr, &ts);
  switch (n) {
    case SIGHUP: return TSignal::Hangup;
    case SIGUSR1: return TSignal::User1;
    case SIGTERM: return TSignal::Terminate;
    case SIGINT: return TSignal::Interrupt;
    default: return TSignal::None;  // timeout, or interrupted by a signal not in the set
  }
}

void TSignalWaiter::AcceptFrom(const std::string&) {}

void PostSignal(TSignal s) {
  if (const int n = SignalNumber(s)) ::kill(::getpid(), n);
}

bool SendSignal(const std::string&, TSignal) { return false; }

void IgnoreBrokenPipe() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}
