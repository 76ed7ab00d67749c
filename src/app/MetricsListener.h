// The metrics and health listener of the headless program, on its own address and never on the
// game port: GET /metrics (Prometheus text format) and GET /healthz (200 while a service answers,
// 503 otherwise). Created and destroyed by the program's main thread; answers on its own worker.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TServiceControl;
class THttpApiServer;

struct THttpServerRequest;

// The exposition text of the counters and the state of `control`'s service.
std::string MetricsText(const TServiceControl& control);
// Answers /metrics and /healthz whatever the method, as this listener always has; 0 for any
// other path, leaving the request to the caller. Shared by this listener and the admin console's.
uint32_t AnswerMetricsRequest(const TServiceControl& control, THttpServerRequest& c);

class TMetricsListener {
 public:
  explicit TMetricsListener(const TServiceControl& control);
  ~TMetricsListener();
  TMetricsListener(const TMetricsListener&) = delete;
  TMetricsListener& operator=(const TMetricsListener&) = delete;

  // Binds host:port. Returns 0 or the front end's error code (AddUrlErrorText names it).
  int Open(const std::string& host, const std::string& port);
  uint16_t BoundPort() const;

 private:
  const TServiceControl& FControl;
  std::unique_ptr<THttpApiServer> FServer;
};
