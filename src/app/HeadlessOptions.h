// The headless program's command line: what each option sets and its parsing (CLI11). Called once
// by main's thread before anything else runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/AdminToken.h"

struct THeadlessOptions {
  std::string Dir;                // working directory; empty: the current one
  int MaxBandwidth = -1;          // megabytes per second, 0 no cap; -1 the settings' value
  std::string Listen = "+";       // interface address the game port binds; "+" every interface
  std::string MetricsHost;        // metrics listener's address; empty: no listener
  std::string MetricsPort;
  uint32_t CacheMaxAge = 0;       // seconds of Cache-Control: max-age; 0 no such header
  int CacheMb = -1;               // megabytes of answers kept for reuse; -1 the machine's default
  std::string AdminHost;          // browser console's address; empty: no console
  std::string AdminPort;
  std::string AdminTokenFile = kAdminTokenFile;  // relative to the working directory
};

// Parses the options. Nothing when the program is to run; otherwise the exit status after the
// usage or version went to standard output (0), or the usage and a one-line reason to standard
// error (2).
std::optional<int> ParseHeadlessOptions(int argc, const char* const* argv, THeadlessOptions& options);
