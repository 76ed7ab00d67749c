// The browser console's JSON API under /api/: status, traffic series, resource view, operator log,
// and the four service commands. Every call needs the admin token as "Authorization: Bearer";
// without it the answer is a bare 401, and an address that keeps failing is made to wait before its
// next token is looked at. Reads are GET (or HEAD), commands POST only. Answers on the admin
// listener's workers, any thread; the objects it is given must outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AdminThrottle.h"
#include "service/uHttpServer.h"

class TConsoleState;
class TServiceControl;
struct THttpServerRequest;

// The menu's commands, as the signals give them too.
enum class TServiceCommand { Start, Stop, Unload, Reload };
using TRunServiceCommand = std::function<void(TServiceCommand)>;

struct TAdminApiPath {
  std::string_view Path;
  std::string_view Method;  // "GET" or "POST"
};
// Every path of the API with the method it takes (tests walk it).
const std::vector<TAdminApiPath>& AdminApiPaths();

class TAdminApi {
 public:
  TAdminApi(const TServiceControl& control, TConsoleState& state, std::string token, TRunServiceCommand run,
            TTickSource tick = nullptr);

  // A request under /api/: its status, with the JSON body set. 0 for any other path.
  uint32_t Answer(THttpServerRequest& c);

 private:
  bool Authorized(const THttpServerRequest& c);
  std::string StatusJson() const;
  std::string TrafficJson() const;
  std::string ResourcesJson() const;
  std::string LogJson(std::string_view query) const;
  uint64_t Now() const;

  const TServiceControl& FControl;
  TConsoleState& FState;
  const std::string FToken;
  TRunServiceCommand FRun;
  TTickSource FTick;
  TAdminThrottle FThrottle;
  const uint64_t FStartedMs;
};

// The client's address the front end appended to the request headers ("RemoteIP: ..." is always
// its last line, after whatever the client sent).
std::string_view RemoteAddress(std::string_view inHeaders);
