// The headless program serving one installation folder on a free loopback port, for end-to-end
// tests that start one or several of them. One test thread drives an instance.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "support/ChildProcess.h"

// Writes `port` into FOLDER/Config.ini, where the program takes its port from.
void WriteConfigPort(const std::string& folder, uint16_t port);

struct TDaemonInstance {
  std::string Folder;
  uint16_t Port = 0;
  std::unique_ptr<TChildProcess> Process;
  // "http://127.0.0.1:<port>/wclientdat/", the address the program prints when it starts.
  std::string Url() const;
};

// Starts NuvoClientDaemon in `folder` on a free port and waits for its address line, trying
// another port when some other program took the first one. Throws std::runtime_error with the
// program's output when it does not start within `timeout`.
TDaemonInstance StartDaemonIn(const std::string& folder, std::chrono::milliseconds timeout);
