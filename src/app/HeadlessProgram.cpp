#include "app/HeadlessProgram.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "app/AdminListener.h"
#include "app/AdminToken.h"
#include "app/ConsoleState.h"
#include "app/HeadlessOptions.h"
#include "app/LoadReport.h"
#include "app/MetricsListener.h"
#include "app/uServiceControl.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ServiceNotify.h"
#include "platform/Signals.h"
#include "service/ServiceState.h"
#include "settings/TarnShare.h"

namespace {

using namespace std::chrono_literals;

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void PrintAll(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) Print(line);
}

constexpr int kRunning = -1;

// The menu's commands, as a signal or the browser console gives them.
void RunServiceCommand(TServiceControl& control, TServiceCommand command) {
  switch (command) {
    case TServiceCommand::Start:
      control.LibLoadok();
      break;
    case TServiceCommand::Stop:
      control.StopService();
      break;
    case TServiceCommand::Unload:
      control.UnloadResources();
      break;
    case TServiceCommand::Reload:
      NotifyServiceManager("RELOADING=1");
      control.LoadResources();
      break;
  }
}

// Takes the signals on its own thread and gives the service commands, as the menu would.
// A service object that cannot be created (the console's error box) ends the program with status 1.
void HandleSignals(TSignalWaiter& signals, TServiceControl& control, std::atomic<int>& exitCode) {
  while (exitCode.load() == kRunning) {
    int running = kRunning;
    try {
      switch (signals.Wait(200ms)) {
        case TSignal::Hangup:
          RunServiceCommand(control, TServiceCommand::Reload);
          break;
        case TSignal::User1:
          RunServiceCommand(control, TServiceCommand::Stop);
          RunServiceCommand(control, TServiceCommand::Start);
          break;
        case TSignal::Terminate:
        case TSignal::Interrupt:
          exitCode.compare_exchange_strong(running, 0);
          break;
        case TSignal::None:
          break;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      exitCode.compare_exchange_strong(running, 1);
    }
  }
}

// The metrics listener when the options ask for one; nothing, with a line on standard error,
// when its address cannot be bound.
std::unique_ptr<TMetricsListener> OpenMetrics(const THeadlessOptions& options, const TServiceControl& control) {
  if (options.MetricsHost.empty()) return nullptr;
  auto listener = std::make_unique<TMetricsListener>(control);
  if (const int rc = listener->Open(options.MetricsHost, options.MetricsPort)) {
    std::fprintf(stderr, "metrics %s:%s: %s\n", options.MetricsHost.c_str(), options.MetricsPort.c_str(),
                 AddUrlErrorText(rc).c_str());
    return nullptr;
  }
  return listener;
}

// The browser console when the options ask for one; nothing, with a line on standard error, when
// its token or address cannot be had. Prints the console's address with the token once.
std::unique_ptr<TAdminListener> OpenAdmin(const THeadlessOptions& options, TServiceControl& control,
                                          TConsoleState& state) {
  if (options.AdminHost.empty()) return nullptr;
  const std::string where = options.AdminHost + ":" + options.AdminPort;
  // Taking the game port first would keep the service from starting when the pass ends.
  if (options.AdminPort == std::to_string(g_nServerPort.load())) {
    std::fprintf(stderr, "admin %s: that is the game port\n", where.c_str());
    return nullptr;
  }
  std::string token;
  try {
    token = LoadOrCreateAdminToken(options.AdminTokenFile);
  } catch (const EInOutError& e) {
    std::fprintf(stderr, "admin %s: %s\n", where.c_str(), e.what());
    return nullptr;
  }
  auto listener = std::make_unique<TAdminListener>(control, state, std::move(token),
                                                   [&control](TServiceCommand c) { RunServiceCommand(control, c); });
  if (const int rc = listener->Open(options.AdminHost, options.AdminPort)) {
    std::fprintf(stderr, "admin %s: %s\n", where.c_str(), AddUrlErrorText(rc).c_str());
    return nullptr;
  }
  Print("浏览器控制台: " + listener->ConsoleUrl());
  return listener;
}

}  // namespace

int RunHeadlessProgram(int argc, const char* const* argv) {
  THeadlessOptions options;
  if (const auto status = ParseHeadlessOptions(argc, argv, options)) return *status;
  if (!options.Dir.empty() && chdir(options.Dir.c_str()) != 0) {
    std::perror(options.Dir.c_str());
    return 1;
  }
  // Before any thread exists, so that every thread leaves these signals to the waiter.
  TSignalWaiter signals({TSignal::Hangup, TSignal::User1, TSignal::Terminate, TSignal::Interrupt});
  IgnoreBrokenPipe();

  std::atomic<int> exitCode{kRunning};
  TConsoleState state;
  TServiceView view;
  view.SetPanels = [&state](const std::string& port, const std::string& s, const std::string& megabytes) {
    state.SetPanels(port, s, megabytes);
  };
  view.ShowLabel = [&state](const std::string& sMsg) { state.SetLabel(Utf8FromAnsi(sMsg)); };
  view.ServiceStarted = [&exitCode](bool started) {
    int running = kRunning;
    if (!started) exitCode.compare_exchange_strong(running, 1);
    if (started) NotifyServiceManager("READY=1");
  };
  view.PassEnded = [](const TPassReport& report) {
    for (const std::string& line : NotLoadedLines(report)) MainOutMessage(line);
  };
  // A reload that failed leaves the running service as it was: the reload is over all the same.
  // A failed first pass leaves nobody to start the service: a failed start, as a taken port is.
  view.PassFailed = [&exitCode](bool running, const std::string& reason) {
    if (running) {
      NotifyServiceManager("READY=1");
      return;
    }
    NotifyServiceManager("STATUS=" + reason);
    int stillRunning = kRunning;
    exitCode.compare_exchange_strong(stillRunning, 1);
  };
  THttpServerLimits limits;
  limits.CacheMaxAge = options.CacheMaxAge;
  if (options.CacheMb >= 0) limits.BodyCacheBytes = std::size_t(options.CacheMb) << 20;
  TServiceControl control(view, limits);
  control.SetOverrides({options.MaxBandwidth, options.Listen});
  try {
    control.FormCreate();
  } catch (const std::exception& e) {
    PrintAll(g_ErrorList.Drain());
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const std::unique_ptr<TMetricsListener> metrics = OpenMetrics(options, control);
  std::unique_ptr<TAdminListener> admin = OpenAdmin(options, control, state);
  std::thread signalThread(HandleSignals, std::ref(signals), std::ref(control), std::ref(exitCode));

  // The console's timer: queued lines at once, the traffic line once a second while the service
  // runs (only when it changed, so an idle server stays quiet), and a sample of the traffic every
  // second for the browser console's chart.
  uint64_t dwSecTime = 0;
  uint64_t sampledAt = 0;
  std::string lastStatistics;
  const auto print = [&state](const std::vector<std::string>& lines) {
    PrintAll(lines);
    state.Log.Append(lines);
  };
  const auto showStatistics = [&] {
    std::string statistics = StatisticsText(g_nDataSec.exchange(0));
    state.SetLabel(statistics);
    if (statistics != lastStatistics) {
      MainOutMessage(statistics);
      NotifyServiceManager("STATUS=" + statistics);
      lastStatistics = std::move(statistics);
    }
  };
  while (exitCode.load() == kRunning) {
    print(g_ErrorList.WaitDrain(100ms));
    const uint64_t now = GetTickCount64();
    if (g_boStart && now - dwSecTime >= 1000) {
      dwSecTime = now;
      showStatistics();
    }
    if (now - sampledAt >= 1000) {
      sampledAt = now;
      state.Traffic.Sample(now, CurrentTrafficCounters());
    }
  }

  NotifyServiceManager("STOPPING=1");
  admin.reset();  // no command from the browser from here on
  if (g_boStart) showStatistics();  // the traffic of the last second
  // A service manager expects a prompt stop: a pass under way stops before its next file.
  control.FormDestroy(TServiceControl::TPassAtClose::Abandon);
  signalThread.join();
  PrintAll(g_ErrorList.Drain());
  return exitCode.load();
}
