// Running the headless program as a system service where the service manager starts programs
// through an entry point of its own (Windows). On Linux systemd runs the program as it is, and
// ServiceHostAvailable says there is nothing of this.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The control code (user-defined range) that makes the service start a fresh service object:
//   sc control NuvoClientDaemon 128
constexpr unsigned kServiceControlRestart = 128;

bool ServiceHostAvailable();
// Registers this executable as service `name`, started with the system, with `args`; empty, or
// the reason it could not.
std::string InstallService(const std::string& name, const std::vector<std::string>& args);
// Removes service `name` (stopping it first when it runs); empty, or the reason it could not.
std::string UninstallService(const std::string& name);
// When the service manager started this process, runs `body` as service `name` and returns its
// result: the manager's stop, parameter change and kServiceControlRestart reach the program as
// the signals Terminate, Hangup and User1 (platform/Signals.h), and NotifyServiceManager's
// READY=1 and STOPPING=1 as the states running and stop pending; standard output (the operator
// log) goes to `name`.log in the current directory. Nothing when the process was started
// otherwise (from a console).
std::optional<int> RunAsService(const std::string& name, const std::function<int()>& body);
// Tells the service manager how the service stands (see RunAsService); ignored outside one.
void ReportToServiceManager(const std::string& state);
