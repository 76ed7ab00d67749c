#include "app/uServiceControl.h"

#include <charconv>
#include <cmath>

#include "catalogue/uGameLib.h"
#include "platform/AsciiText.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "settings/IPAddrFilter.h"
#include "settings/ResourceList.h"
#include "settings/TarnShare.h"
#include "service/Metrics.h"
#include "service/ServiceState.h"

std::string MainCaption() { return "Ostrel引擎微端服务器【" + g_sTitle + "】"; }

std::string MegabytesText() {
  const double mb = static_cast<double>(g_nDataMemory.load()) / (1024.0 * 1024.0);
  return std::to_string(static_cast<long long>(std::nearbyint(mb))) + " M";
}

namespace {

// Two decimals, written the same whatever C locale the program runs under.
std::string TwoDecimals(double value, const std::string& decimalPoint) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2).ptr;
  std::string out(text, end);
  const size_t point = out.find('.');
  if (point != std::string::npos) out.replace(point, 1, decimalPoint);
  return out;
}

}  // namespace

std::string StatisticsText(uint64_t nDataSec, const std::string& decimalPoint) {
  return "请求: " + std::to_string(g_nDataRead.load()) + "/错误：" + std::to_string(g_nDataRead404.load()) +
         "/每秒发出: " + TwoDecimals(static_cast<double>(nDataSec) / 1024.0, decimalPoint) +
         " KB/总发出: " + TwoDecimals(static_cast<double>(g_nDataSend.load()) / 1024.0 / 1024.0, decimalPoint) +
         " MB";
}

void QueueStartLines() {
  MainOutMessage("程序更新:v2.1 2024/7/2");
  MainOutMessage("程序开发:" + UpperCaseAscii(kVendorHost));
  MainOutMessage("程序名称:微端服务器(IIS+HTTP)");
}

TServiceControl::TServiceControl(TServiceView View, THttpServerLimits Limits, TTickSource Tick)
    : FView(std::move(View)), FLimits(Limits), FTick(std::move(Tick)) {}

TServiceControl::~TServiceControl() { FormDestroy(); }

void TServiceControl::ShowLabel(const std::string& sMsg) {
  if (FView.ShowLabel) FView.ShowLabel(sMsg);
}

void TServiceControl::SetPanels(const std::string& port, const std::string& state) {
  if (FView.SetPanels) FView.SetPanels(port, state, MegabytesText());
}

void TServiceControl::FormCreate() {
  LoadConfig();  // the loaders take g_ConfigLock themselves
  LoadJpkList();
  for (TResourceList list : {TResourceList::Wzl, TResourceList::Map, TResourceList::Wav}) LoadLibList(LibListType(list));
  {
    std::lock_guard hold(g_ConfigLock);
    while (!g_sSearchDir.empty() && (g_sSearchDir.back() == '\\' || g_sSearchDir.back() == '/')) {
      g_sSearchDir.pop_back();
    }
    g_MyDir = ExecutableDir();
  }
  LoadBlockIPList();
  LoadBlockIPAreaList();

  auto lib = std::make_shared<TGameLib>(true);
  lib->SetBackLoad([this](const TPassReport& report) {
    PassEnded(report);
    LibLoadok();
  });
  lib->SetPassFailed([this](const std::string& reason) { PassFailed(reason); });
  lib->SetShowLabel([this](const std::string& s) { ShowLabel(s); });
  {
    std::lock_guard hold(FServiceLock);
    FGameLib = lib;
  }
  // Shown before the loader runs, so the end of a quick first pass cannot come before them.
  if (FView.SetPanels) FView.SetPanels("[-]", "启动中", "[-]");
  QueueStartLines();
  lib->Resume();
  std::lock_guard hold(FServiceLock);
  AskPass();
}

void TServiceControl::AskPass() {
  FPassAskedAt = GetTickCount64();
  FGameLib->SetLoadLib(CurrentLoadLists());
}

void TServiceControl::PassEnded(const TPassReport& report) {
  {
    std::lock_guard hold(FServiceLock);
    if (FClosing || !FGameLib) return;
    CountLoadPass(std::chrono::milliseconds(GetTickCount64() - FPassAskedAt), report);
  }
  if (FView.PassEnded) FView.PassEnded(report);
}

void TServiceControl::PassFailed(const std::string& reason) {
  bool running = false;
  {
    std::lock_guard hold(FServiceLock);
    if (FClosing) return;
    running = FNuvoClientServer != nullptr && g_boStart;
  }
  if (FView.PassFailed) FView.PassFailed(running, reason);
}

bool TServiceControl::LibLoadok() {
  bool started = false;
  {
    std::lock_guard hold(FServiceLock);
    if (FClosing) return false;
    TServiceSettings settings = CurrentServiceSettings();
    if (FOverrides.MaxBandwidth >= 0) settings.MaxBandwidth = static_cast<uint16_t>(FOverrides.MaxBandwidth);
    settings.ListenHost = FOverrides.ListenHost;
    if (!FNuvoClientServer) {
      FNuvoClientServer = std::make_shared<TNuvoHttpServer>(FGameLib, settings, FTick, FLimits);
    }
    const std::string url = FNuvoClientServer->Open(settings);
    started = !url.empty();
    FUrl = url;
    MainOutMessage("微端部署地址: " + url);
    // A service that could not start is shown as stopped, not as running.
    if (started) {
      SetPanels(std::to_string(g_nServerPort.load()), "运行中");
    } else {
      SetPanels("----", "已停止");
    }
  }
  if (FView.ServiceStarted) FView.ServiceStarted(started);
  return started;
}

void TServiceControl::StopLocked() {
  if (!FNuvoClientServer) return;
  FNuvoClientServer.reset();
  FUrl.clear();
  g_boStart = false;
  MainOutMessage("微端服务器已停止..");
  SetPanels("----", "已停止");
}

void TServiceControl::StopService() {
  std::lock_guard hold(FServiceLock);
  if (!FClosing) StopLocked();
}

void TServiceControl::UnloadResources() {
  std::shared_ptr<TGameLib> lib;
  {
    std::lock_guard hold(FServiceLock);
    if (FClosing) return;
    StopLocked();
    lib = FGameLib;
  }
  if (lib) lib->Clear();
  MainOutMessage("卸载资源完毕..");
  ShowLabel(AnsiFromUtf8("微端服务器停止，卸载资源完毕...."));
}

void TServiceControl::LoadResources() {
  std::lock_guard hold(FServiceLock);
  if (!FClosing && FGameLib) AskPass();
}

void TServiceControl::FormDestroy(TPassAtClose pass) {
  std::shared_ptr<TGameLib> lib;
  {
    std::lock_guard hold(FServiceLock);
    if (FClosing) return;
    FClosing = true;
    FNuvoClientServer.reset();
    g_boStart = false;
    lib = std::move(FGameLib);
  }
  if (!lib) return;
  // A pass ending now finds FClosing set; detaching waits for a callback already running.
  lib->DetachCallbacks();
  if (pass == TPassAtClose::Abandon) lib->AbandonPasses();
  lib->Terminate();
  lib.reset();  // joins the loader thread, waiting for a pass under way
}

std::shared_ptr<TGameLib> TServiceControl::GameLib() const {
  std::lock_guard hold(FServiceLock);
  return FGameLib;
}

std::shared_ptr<TNuvoHttpServer> TServiceControl::NuvoClientServer() const {
  std::lock_guard hold(FServiceLock);
  return FNuvoClientServer;
}

std::string TServiceControl::DeploymentUrl() const {
  std::lock_guard hold(FServiceLock);
  return FUrl;
}
