// The operator's console in a browser: its own listener (never the game port) serving the page,
// its JSON API under the admin token, and /metrics and /healthz as the metrics listener does.
// Created, opened and destroyed by the program's main thread; answers on its own workers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/AdminApi.h"

class TConsoleState;
class THttpApiServer;
class TServiceControl;

class TAdminListener {
 public:
  TAdminListener(const TServiceControl& control, TConsoleState& state, std::string token, TRunServiceCommand run);
  ~TAdminListener();
  TAdminListener(const TAdminListener&) = delete;
  TAdminListener& operator=(const TAdminListener&) = delete;

  // Binds host:port. Returns 0 or the front end's error code (AddUrlErrorText names it).
  int Open(const std::string& host, const std::string& port);
  uint16_t BoundPort() const;
  // The page's address with the token in its fragment, which browsers never send:
  // "http://127.0.0.1:9801/#token=...". A wildcard host is written as the loopback address.
  std::string ConsoleUrl() const;

 private:
  const TServiceControl& FControl;
  const std::string FToken;
  TAdminApi FApi;
  std::string FHost;
  std::unique_ptr<THttpApiServer> FServer;
};
