// The program's start sequence and service commands, shared by the console window and the headless
// program: settings, lists, block lists and the catalogue at start; the service started when a load
// pass ends; stop, unload and reload; the release at exit.
// Threads: commands come from the owner's threads (the window's; the headless program's signal
// thread and the browser console's workers); LibLoadok also from the catalogue's loader thread. Starting, stopping and the load-finished call are serialised, and once FormDestroy has
// begun no command touches the service again. View callbacks run on the thread that made the
// change; an owner with a window brings them to its own thread without waiting for it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "catalogue/uGameLib.h"
#include "service/uHttpServer.h"

struct TServiceView {
  // Status panels 0, 1 and 2: port, state, megabytes held.
  std::function<void(const std::string& port, const std::string& state, const std::string& megabytes)> SetPanels;
  // Progress and statistics text for panel 3, code page 936.
  std::function<void(const std::string& sMsg)> ShowLabel;
  // After every start attempt: whether the service answers requests.
  std::function<void(bool started)> ServiceStarted;
  // After a load pass went through every list, before the service starts: what became of every
  // listed entry. On the loader thread.
  std::function<void(const TPassReport& report)> PassEnded;
  // After a load pass that failed (the catalogue before stays in use, or where there was none, what
  // the pass stored before the failure): whether the service answers requests, and the logged
  // reason (UTF-8). On the loader thread.
  std::function<void(bool serviceRunning, const std::string& reason)> PassFailed;
};

// What the headless program's options change in the settings of every service it starts.
struct TServiceOverrides {
  int MaxBandwidth = -1;          // megabytes per second, 0 no cap; -1 the settings' value
  std::string ListenHost = "+";  // the interface to bind
};

class TServiceControl {
 public:
  explicit TServiceControl(TServiceView View, THttpServerLimits Limits = {}, TTickSource Tick = nullptr);
  ~TServiceControl();
  TServiceControl(const TServiceControl&) = delete;
  TServiceControl& operator=(const TServiceControl&) = delete;

  // Before FormCreate.
  void SetOverrides(TServiceOverrides Overrides) { FOverrides = std::move(Overrides); }

  // Reads the settings and every list, creates the catalogue and asks for the first pass, queues the
  // three start lines. Throws EInOutError when a list file exists but cannot be read.
  void FormCreate();
  // Creates the service when there is none and opens it. Returns whether it answers requests.
  bool LibLoadok();
  void StopService();
  void UnloadResources();
  void LoadResources();
  // Releases the service, then ends and releases the catalogue: the window waits for a pass under
  // way; a headless program may have it stop before its next file.
  enum class TPassAtClose { Wait, Abandon };
  void FormDestroy(TPassAtClose pass = TPassAtClose::Wait);

  // The catalogue and the service object as they stand; null when there is none.
  std::shared_ptr<TGameLib> GameLib() const;
  std::shared_ptr<TNuvoHttpServer> NuvoClientServer() const;
  // The address the running service announced ("微端部署地址: "); empty while none answers.
  std::string DeploymentUrl() const;

 private:
  void ShowLabel(const std::string& sMsg);
  void SetPanels(const std::string& port, const std::string& state);
  void StopLocked();
  void AskPass();
  void PassEnded(const TPassReport& report);
  void PassFailed(const std::string& reason);

  TServiceView FView;
  THttpServerLimits FLimits;
  TTickSource FTick;
  TServiceOverrides FOverrides;
  mutable std::mutex FServiceLock;  // held by start, stop and the load-finished call
  bool FClosing = false;
  std::shared_ptr<TGameLib> FGameLib;
  std::shared_ptr<TNuvoHttpServer> FNuvoClientServer;
  std::string FUrl;            // under FServiceLock: what the last start announced
  uint64_t FPassAskedAt = 0;   // under FServiceLock: when, in GetTickCount64 milliseconds
};

// "Ostrel引擎微端服务器【" + g_sTitle + "】"
std::string MainCaption();
// g_nDataMemory in megabytes, rounded half to even: "2 M".
std::string MegabytesText();
// The once-a-second traffic line (UTF-8) from the counters, with `nDataSec` the bytes sent since
// the last line: "请求: 10/错误：2/每秒发出: 2.00 KB/总发出: 1.00 MB". The decimals are separated by
// `decimalPoint` (the window passes its locale's), whatever the C locale.
std::string StatisticsText(uint64_t nDataSec, const std::string& decimalPoint = ".");
// The three lines the program logs at start.
void QueueStartLines();
