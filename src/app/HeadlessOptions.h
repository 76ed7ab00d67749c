// The headless program's command line: what each option sets and its parsing (CLI11). Called once
// by main's thread before anything else runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/AdminToken.h"

struct THeadlessOptions {
  std::string Dir;                // working directory; empty: the current one
  int MaxBandwidth = -1;          // megabytes per second, 0 no cap; -1 the settings' value
  std::string Listen = "+";       // interface address the game port binds; "+" every interface
  std::string MetricsHost;        // metrics listener's address; empty: no listener
  std::string MetricsPort;
  std::optional<uint32_t> CacheMaxAge;  // seconds of Cache-Control: max-age; none: no such header
  uint32_t MaxConnectionsPerAddress = 0;  // game-port connections one client address may hold; 0 the default
  std::string Metrics;            // --metrics as given
  std::string Admin;              // --admin as given
  // Where the system has a service manager of its own (Windows, platform/ServiceHost.h) and
  // controls from other processes instead of signals:
  enum class TAction { Run, InstallService, UninstallService, Control } Action = TAction::Run;
  std::string ServiceName = "NuvoClientDaemon";
  bool AsService = false;         // started by the service manager
  std::string Control;            // reload, restart or stop: sent to the instance of the folder
  std::string AdminHost;          // browser console's address; empty: no console
  std::string AdminPort;
  std::string AdminTokenFile = kAdminTokenFile;  // relative to the working directory
};

// Parses the options. Nothing when the program is to run; otherwise the exit status after the
// usage or version went to standard output (0), or the usage and a one-line reason to standard
// error (2).
std::optional<int> ParseHeadlessOptions(int argc, const char* const* argv, THeadlessOptions& options);
// The command line the service manager starts the program with: the service's name, the
// absolute working directory `dir` and the serving options given to --install-service.
std::vector<std::string> ServiceArguments(const THeadlessOptions& options, const std::string& dir);
