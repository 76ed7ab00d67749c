// The Windows service manager: registration, the service's entry point and its control handler.
#include "platform/ServiceHost.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/FileSystem.h"
#include "platform/Signals.h"
#include "platform/WideText.h"

namespace {

struct TService {
  std::wstring Name;
  const std::function<int()>* Body = nullptr;
  int Result = 0;
  std::mutex Lock;
  SERVICE_STATUS_HANDLE Handle = nullptr;
  SERVICE_STATUS Status{};
};

TService g_Service;

void SetState(DWORD state, DWORD waitHint = 0) {
  std::lock_guard hold(g_Service.Lock);
  if (!g_Service.Handle) return;
  SERVICE_STATUS& s = g_Service.Status;
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  // Stop and parameter changes are taken only once the service runs.
  s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE : 0;
  s.dwWaitHint = waitHint;
  if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
    ++s.dwCheckPoint;
  } else {
    s.dwCheckPoint = 0;
  }
  SetServiceStatus(g_Service.Handle, &s);
}

DWORD WINAPI Control(DWORD code, DWORD, void*, void*) {
  switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      SetState(SERVICE_STOP_PENDING, 30000);
      PostSignal(TSignal::Terminate);
      return NO_ERROR;
    case SERVICE_CONTROL_PARAMCHANGE:
      PostSignal(TSignal::Hangup);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      if (code == kServiceControlRestart) {
        PostSignal(TSignal::User1);
        return NO_ERROR;
      }
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  {
    std::lock_guard hold(g_Service.Lock);
    g_Service.Handle = RegisterServiceCtrlHandlerExW(g_Service.Name.c_str(), Control, nullptr);
  }
  if (!g_Service.Handle) return;
  // Loading a large installation takes a while before the service answers (READY=1).
  SetState(SERVICE_START_PENDING, 600000);
  // A service has no console: its standard output, the operator log, is appended to NAME.log in
  // the working directory (UTF-8, as from a console program's pipe).
  const HANDLE log = CreateFileW((g_Service.Name + L".log").c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    SetStdHandle(STD_OUTPUT_HANDLE, log);
    SetStdHandle(STD_ERROR_HANDLE, log);
  }
  int result = 1;
  try {
    result = (*g_Service.Body)();
  } catch (...) {
  }
  g_Service.Result = result;
  std::lock_guard hold(g_Service.Lock);
  g_Service.Status.dwWin32ExitCode = result == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  g_Service.Status.dwServiceSpecificExitCode = static_cast<DWORD>(result);
  g_Service.Status.dwCurrentState = SERVICE_STOPPED;
  g_Service.Status.dwControlsAccepted = 0;
  g_Service.Status.dwCheckPoint = 0;
  SetServiceStatus(g_Service.Handle, &g_Service.Status);
}

// One argument of a command line as the C runtime splits it again: quoted when it has blanks or
// quotes, backslashes doubled before a quote.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
    } else {
      if (c == L'"') out.append(slashes + 1, L'\\');
      slashes = 0;
    }
    out += c;
  }
  out.append(slashes, L'\\');
  return out + L"\"";
}

struct TScHandle {
  SC_HANDLE H;
  ~TScHandle() {
    if (H) CloseServiceHandle(H);
  }
};

std::string LastError(const char* what) { return std::string(what) + ": " + SystemErrorText(GetLastError()); }

}  // namespace

bool ServiceHostAvailable() { return true; }

std::string InstallService(const std::string& name, const std::vector<std::string>& args) {
  std::wstring exe(32768, L'\0');
  exe.resize(GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size())));
  std::wstring command = Quoted(exe);
  for (const std::string& a : args) command += L" " + Quoted(WideFromUtf8(a));
  TScHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE)};
  if (!manager.H) return LastError("cannot open the service manager");
  const std::wstring wname = WideFromUtf8(name);
  TScHandle service{CreateServiceW(manager.H, wname.c_str(), wname.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                   nullptr, nullptr, nullptr)};
  if (!service.H) return LastError("cannot create the service");
  std::wstring text = L"Micro-client resource server";
  SERVICE_DESCRIPTIONW description{text.data()};
  ChangeServiceConfig2W(service.H, SERVICE_CONFIG_DESCRIPTION, &description);
  // A service that ends with an error is started again after a minute, as systemd's on-failure.
  SC_ACTION restart{SC_ACTION_RESTART, 60000};
  SERVICE_FAILURE_ACTIONSW actions{86400, nullptr, nullptr, 1, &restart};
  ChangeServiceConfig2W(service.H, SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
  SERVICE_FAILURE_ACTIONS_FLAG onExitStatus{TRUE};  // a start that fails ends with status 1, not a crash
  ChangeServiceConfig2W(service.H, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onExitStatus);
  return {};
}

std::string UninstallService(const std::string& name) {
  TScHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
  if (!manager.H) return LastError("cannot open the service manager");
  TScHandle service{OpenServiceW(manager.H, WideFromUtf8(name).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)};
  if (!service.H) return LastError("cannot open the service");
  SERVICE_STATUS status{};
  if (ControlService(service.H, SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 300 && QueryServiceStatus(service.H, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i) Sleep(100);
  }
  if (!DeleteService(service.H)) return LastError("cannot remove the service");
  return {};
}

std::optional<int> RunAsService(const std::string& name, const std::function<int()>& body) {
  g_Service.Name = WideFromUtf8(name);
  g_Service.Body = &body;
  SERVICE_TABLE_ENTRYW table[] = {{g_Service.Name.data(), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) return std::nullopt;  // not started by the manager
  return g_Service.Result;
}

void ReportToServiceManager(const std::string& state) {
  if (state == "READY=1") SetState(SERVICE_RUNNING);
  if (state == "STOPPING=1") SetState(SERVICE_STOP_PENDING, 30000);
}
