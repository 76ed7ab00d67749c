#include "app/MetricsListener.h"

#include <cstdio>

#include "app/uServiceControl.h"
#include "http/HttpApiServer.h"
#include "service/FrontEndCoding.h"
#include "service/Metrics.h"
#include "service/ServiceState.h"

namespace {

constexpr char kTextFormat[] = "text/plain; version=0.0.4; charset=utf-8";

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string& out, const std::string& name, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  out += name + " " + text + "\n";
}

void Sample(std::string& out, const std::string& name, uint64_t value) {
  out += name + " " + std::to_string(value) + "\n";
}

std::string Seconds(uint64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(us) / 1e6);
  return text;
}

void Requests(std::string& out, const TMetricsSnapshot& m) {
  Family(out, "nuvo_requests_total", "counter", "Game client requests by kind and outcome (answered, empty, or the refusal code).");
  for (size_t k = 0; k < kRequestKinds; ++k)
    for (size_t o = 0; o < kOutcomes; ++o)
      Sample(out, std::string("nuvo_requests_total{type=\"") + RequestKindLabel(k) + "\",outcome=\"" + OutcomeLabel(o) + "\"}",
             m.Requests[k][o]);
}

void Latency(std::string& out, const TMetricsSnapshot& m) {
  Family(out, "nuvo_request_duration_seconds", "histogram", "Time from a request's arrival to its response sent.");
  uint64_t cumulative = 0;
  for (size_t b = 0; b < m.Latency.size(); ++b) {
    cumulative += m.Latency[b];
    const std::string le = b < kLatencyBoundsUs.size() ? Seconds(kLatencyBoundsUs[b]) : "+Inf";
    Sample(out, "nuvo_request_duration_seconds_bucket{le=\"" + le + "\"}", cumulative);
  }
  Sample(out, "nuvo_request_duration_seconds_sum", static_cast<double>(m.LatencySumUs) / 1e6);
  Sample(out, "nuvo_request_duration_seconds_count", cumulative);
}

}  // namespace

std::string MetricsText(const TServiceControl& control) {
  const TMetricsSnapshot m = ReadMetrics();
  const auto service = control.NuvoClientServer();
  std::string out;
  Requests(out, m);
  Family(out, "nuvo_response_bytes_total", "counter", "Response body bytes: before content coding (raw) and as sent.");
  Sample(out, "nuvo_response_bytes_total{form=\"raw\"}", m.BytesRaw);
  Sample(out, "nuvo_response_bytes_total{form=\"sent\"}", m.BytesSent);
  Latency(out, m);
  Family(out, "nuvo_open_connections", "gauge", "Client connections open on the game port.");
  Sample(out, "nuvo_open_connections", static_cast<uint64_t>(service ? service->OpenConnections() : 0));
  Family(out, "nuvo_data_memory_bytes", "gauge", "Bytes of libraries, maps and wavs the last load pass took in.");
  Sample(out, "nuvo_data_memory_bytes", m.DataMemoryBytes);
  Family(out, "nuvo_load_passes_total", "counter", "Load passes completed.");
  Sample(out, "nuvo_load_passes_total", m.LoadPasses);
  Family(out, "nuvo_last_load_pass_seconds", "gauge", "Duration of the last completed load pass.");
  Sample(out, "nuvo_last_load_pass_seconds", static_cast<double>(m.LastPassMs) / 1e3);
  Family(out, "nuvo_service_up", "gauge", "1 while the service answers game clients, 0 otherwise.");
  Sample(out, "nuvo_service_up", static_cast<uint64_t>(g_boStart.load() ? 1 : 0));
  return out;
}

TMetricsListener::TMetricsListener(const TServiceControl& control)
    : FControl(control), FServer(std::make_unique<THttpApiServer>()) {
  FServer->SetEntityTagger(EntityTag);
}

TMetricsListener::~TMetricsListener() = default;

uint32_t AnswerMetricsRequest(const TServiceControl& control, THttpServerRequest& c) {
  const std::string path = c.URL.substr(0, c.URL.find('?'));
  if (path == "/metrics") {
    c.OutContentType = kTextFormat;
    c.OutContent = MetricsText(control);
    return 200;
  }
  if (path == "/healthz") {
    const bool up = g_boStart.load();
    c.OutContentType = kTextFormat;
    c.OutContent = up ? "ok\n" : "stopped\n";
    return up ? 200 : 503;
  }
  return 0;
}

int TMetricsListener::Open(const std::string& host, const std::string& port) {
  FServer->SetOnRequest([this](THttpServerRequest& c) -> uint32_t {
    if (const uint32_t status = AnswerMetricsRequest(FControl, c)) return status;
    c.OutContentType = kTextFormat;
    c.OutContent = "not found\n";
    return 404;
  });
  return FServer->AddUrl("/", port, false, host);
}

uint16_t TMetricsListener::BoundPort() const { return FServer->BoundPort(); }
