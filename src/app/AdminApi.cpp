#include "app/AdminApi.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/AdminResources.h"
#include "app/AdminToken.h"
#include "app/ConsoleState.h"
#include "app/JsonText.h"
#include "app/uServiceControl.h"
#include "catalogue/uGameLib.h"
#include "http/HttpApiServer.h"
#include "platform/Clock.h"
#include "service/Metrics.h"
#include "service/ServiceState.h"
#include "settings/TarnShare.h"

namespace {

constexpr char kJson[] = "application/json; charset=utf-8";

enum class TCall { Status, Traffic, Resources, Log, Start, Stop, Unload, Reload };

struct TRoute {
  TAdminApiPath Path;
  TCall Call;
};

const std::vector<TRoute>& Routes() {
  static const std::vector<TRoute> routes = {
      {{"/api/status", "GET"}, TCall::Status},     {{"/api/traffic", "GET"}, TCall::Traffic},
      {{"/api/resources", "GET"}, TCall::Resources}, {{"/api/log", "GET"}, TCall::Log},
      {{"/api/start", "POST"}, TCall::Start},      {{"/api/stop", "POST"}, TCall::Stop},
      {{"/api/unload", "POST"}, TCall::Unload},    {{"/api/reload", "POST"}, TCall::Reload},
  };
  return routes;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

void Field(std::string& out, const char* name, const std::string& jsonValue) {
  if (out.size() > 1) out += ',';
  AppendJsonString(out, name);
  out += ':';
  out += jsonValue;
}

std::string Text(std::string_view utf8) { return JsonString(utf8); }
std::string Uint(uint64_t v) { return std::to_string(v); }
std::string Bool(bool v) { return v ? "true" : "false"; }

// The value of `name` in a query string ("a=1&b=2"), or empty.
std::string_view QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
      return pair.substr(name.size() + 1);
  }
  return {};
}

}  // namespace

const std::vector<TAdminApiPath>& AdminApiPaths() {
  static const std::vector<TAdminApiPath> paths = [] {
    std::vector<TAdminApiPath> out;
    for (const TRoute& r : Routes()) out.push_back(r.Path);
    return out;
  }();
  return paths;
}

std::string_view RemoteAddress(std::string_view inHeaders) {
  constexpr std::string_view kName = "RemoteIP: ";
  const size_t at = inHeaders.rfind(kName);
  if (at == std::string_view::npos) return {};
  std::string_view rest = inHeaders.substr(at + kName.size());
  return rest.substr(0, rest.find("\r\n"));
}

TAdminApi::TAdminApi(const TServiceControl& control, TConsoleState& state, std::string token, TRunServiceCommand run,
                     TTickSource tick)
    : FControl(control), FState(state), FToken(std::move(token)), FRun(std::move(run)), FTick(std::move(tick)),
      FStartedMs(Now()) {}

uint64_t TAdminApi::Now() const { return FTick ? FTick() : GetTickCount64(); }

bool TAdminApi::Authorized(const THttpServerRequest& c) {
  const std::string_view address = RemoteAddress(c.InHeaders);
  const uint64_t now = Now();
  if (!FThrottle.MayTry(address, now)) return false;
  if (!SameToken(BearerToken(c.InHeaders), FToken)) {
    FThrottle.Failed(address, now);
    return false;
  }
  FThrottle.Succeeded(address);
  return true;
}

uint32_t TAdminApi::Answer(THttpServerRequest& c) {
  const size_t question = c.URL.find('?');
  const std::string_view path = std::string_view(c.URL).substr(0, question);
  const std::string_view query =
      question == std::string::npos ? std::string_view() : std::string_view(c.URL).substr(question + 1);
  if (path != "/api" && path.substr(0, 5) != "/api/") return 0;
  // The token first, whatever the path or method: nothing about the API shows without it.
  if (!Authorized(c)) return 401;

  const TRoute* route = nullptr;
  for (const TRoute& r : Routes())
    if (r.Path.Path == path) route = &r;
  if (!route) return 404;
  const bool read = c.Method == "GET" || c.Method == "HEAD";
  if (route->Path.Method == "GET" ? !read : c.Method != "POST") return 405;

  c.OutContentType = kJson;
  switch (route->Call) {
    case TCall::Status: c.OutContent = StatusJson(); break;
    case TCall::Traffic: c.OutContent = TrafficJson(); break;
    case TCall::Resources: c.OutContent = ResourcesJson(); break;
    case TCall::Log: c.OutContent = LogJson(query); break;
    case TCall::Start: FRun(TServiceCommand::Start); c.OutContent = StatusJson(); break;
    case TCall::Stop: FRun(TServiceCommand::Stop); c.OutContent = StatusJson(); break;
    case TCall::Unload: FRun(TServiceCommand::Unload); c.OutContent = StatusJson(); break;
    case TCall::Reload: FRun(TServiceCommand::Reload); c.OutContent = StatusJson(); break;
  }
  return 200;
}

std::string TAdminApi::StatusJson() const {
  const TConsoleState::TPanels panels = FState.Panels();
  const TMetricsSnapshot metrics = ReadMetrics();
  const auto lib = FControl.GameLib();
  const uint64_t memory = g_nDataMemory.load();

  std::string panelList = "[" + Text(panels.Port) + "," + Text(panels.State) + "," + Text(panels.Megabytes) + "," +
                          Text(panels.Label) + "]";
  std::string pass = "{";
  Field(pass, "running", Bool(lib && lib->PassUnderWay()));
  Field(pass, "completed", Uint(metrics.LoadPasses));
  Field(pass, "lastSeconds", Number(static_cast<double>(metrics.LastPassMs) / 1e3));
  pass += '}';
  const TTrafficCounters counters = CurrentTrafficCounters();
  std::string traffic = "{";
  Field(traffic, "requests", Uint(counters.Requests));
  Field(traffic, "errors", Uint(counters.Errors));
  Field(traffic, "bytesSent", Uint(counters.Bytes));
  traffic += '}';

  std::string out = "{";
  Field(out, "caption", Text(MainCaption()));
  Field(out, "panels", panelList);
  Field(out, "state", Text(panels.State));
  Field(out, "started", Bool(g_boStart.load()));
  Field(out, "port", Uint(g_nServerPort.load()));
  Field(out, "address", Text(FControl.DeploymentUrl()));
  Field(out, "version", Text(NUVO_VERSION));
  Field(out, "uptimeSeconds", Uint((Now() - FStartedMs) / 1000));
  Field(out, "megabytes", Number(static_cast<double>(memory) / (1024.0 * 1024.0)));
  Field(out, "dataMemoryBytes", Uint(memory));
  Field(out, "pass", pass);
  Field(out, "traffic", traffic);
  Field(out, "logNext", Uint(FState.Log.Next()));
  out += '}';
  return out;
}

std::string TAdminApi::TrafficJson() const {
  const std::vector<TTrafficSample> samples = FState.Traffic.Samples();
  std::string at, span, requests, errors, bytes;
  for (const TTrafficSample& s : samples) {
    const char* sep = at.empty() ? "" : ",";
    at += sep + Uint(s.AtMs - std::min(s.AtMs, FStartedMs));
    span += sep + Uint(s.SpanMs);
    requests += sep + Uint(s.Delta.Requests);
    errors += sep + Uint(s.Delta.Errors);
    bytes += sep + Uint(s.Delta.Bytes);
  }
  std::string out = "{";
  Field(out, "nowMs", Uint(Now() - FStartedMs));
  Field(out, "atMs", "[" + at + "]");
  Field(out, "spanMs", "[" + span + "]");
  Field(out, "requests", "[" + requests + "]");
  Field(out, "errors", "[" + errors + "]");
  Field(out, "bytes", "[" + bytes + "]");
  out += '}';
  return out;
}

std::string TAdminApi::ResourcesJson() const {
  const auto lib = FControl.GameLib();
  const auto report = lib ? lib->LastPass() : nullptr;
  const std::vector<TResourceRow> view = report ? ResourceRows(*report, *lib) : std::vector<TResourceRow>();
  std::string rows = "[";
  size_t stored = 0, unloaded = 0;
  for (const TResourceRow& r : view) {
    stored += r.Stored;
    unloaded += r.Stored && r.State != "正常";
    std::string row = "{";
    Field(row, "list", Text(r.List));
    Field(row, "path", Text(r.Path));
    Field(row, "state", Text(r.State));
    Field(row, "ok", Bool(r.Stored));
    Field(row, "size", r.Size < 0 ? "null" : std::to_string(r.Size));
    Field(row, "hash", Text(r.Hash));
    row += '}';
    if (rows.size() > 1) rows += ',';
    rows += row;
  }
  rows += ']';
  std::string out = "{";
  Field(out, "pass", Uint(ReadMetrics().LoadPasses));
  Field(out, "complete", Bool(report && report->Complete));
  Field(out, "unloaded", Bool(unloaded > 0));
  Field(out, "stored", Uint(stored));
  Field(out, "listed", Uint(view.size()));
  Field(out, "rows", rows);
  out += '}';
  return out;
}

std::string TAdminApi::LogJson(std::string_view query) const {
  const std::string_view sinceText = QueryValue(query, "since");
  uint64_t since = 0;
  std::from_chars(sinceText.data(), sinceText.data() + sinceText.size(), since);  // anything else: 0
  const TOperatorLogRing::TRead read = FState.Log.Since(since);
  std::string lines = "[";
  for (const std::string& line : read.Lines) {
    if (lines.size() > 1) lines += ',';
    AppendJsonString(lines, line);
  }
  lines += ']';
  std::string out = "{";
  Field(out, "first", Uint(read.First));
  Field(out, "next", Uint(read.Next));
  Field(out, "lines", lines);
  out += '}';
  return out;
}
