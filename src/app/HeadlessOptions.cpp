#include "app/HeadlessOptions.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <cstdio>

namespace {

constexpr char kProgram[] = "NuvoClientDaemon";

bool IsAddress(const std::string& text) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// "HOST:PORT", with an IPv6 host in brackets; empty when it is well formed.
std::string SplitHostPort(const std::string& text, std::string& host, std::string& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return "expected HOST:PORT, got '" + text + "'";
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (!IsAddress(host)) return "'" + host + "' is not an IP address";
  int value = 0;
  try {
    size_t used = 0;
    value = std::stoi(port, &used);
    if (used != port.size()) value = 0;
  } catch (const std::exception&) {
    value = 0;
  }
  if (value < 1 || value > 65535) return "port '" + port + "' is not in 1-65535";
  return {};
}

}  // namespace

std::optional<int> ParseHeadlessOptions(int argc, const char* const* argv, THeadlessOptions& options) {
  CLI::App app("The resource server without a window: serves the folder's Config.ini and lists,\n"
               "logs to standard output. SIGHUP reloads the resources, SIGUSR1 restarts the service,\n"
               "SIGTERM or SIGINT stops it.",
               kProgram);
  app.set_version_flag("--version", std::string(kProgram) + " " + NUVO_VERSION);
  app.add_option("--dir", options.Dir, "Working directory (Config.ini, the lists, Logs/); default the current one")
      ->check(CLI::ExistingDirectory);
  // 4095 MB/s is the largest cap the front end's 32-bit rate holds.
  app.add_option("--max-bandwidth", options.MaxBandwidth,
                 "Send rate cap for all connections together in MB/s, 0 no cap; default Config.ini's (100)")
      ->check(CLI::Range(0, 4095));
  app.add_option("--listen", options.Listen, "IP address of the interface the game port binds; default every interface")
      ->check(CLI::Validator([](std::string& s) { return IsAddress(s) ? std::string() : "'" + s + "' is not an IP address"; },
                             "ADDRESS"));
  std::string metrics;
  app.add_option("--metrics", metrics, "Serve /metrics and /healthz on HOST:PORT (its own listener); default off")
      ->check(CLI::Validator([](std::string& s) {
        std::string host, port;
        return SplitHostPort(s, host, port);
      }, "HOST:PORT"));
  std::string admin;
  app.add_option("--admin", admin,
                 "Serve the operator's console in a browser (and /metrics, /healthz) on HOST:PORT; default off")
      ->check(CLI::Validator([](std::string& s) {
        std::string host, port;
        return SplitHostPort(s, host, port);
      }, "HOST:PORT"));
  app.add_option("--admin-token-file", options.AdminTokenFile,
                 "File of the console's token, made (owner-only) when missing; default admin.token");
  app.add_option("--cache-max-age", options.CacheMaxAge,
                 "Cache-Control: max-age in seconds on answers with a body; default none (0)")
      ->check(CLI::Range(0u, 2147483647u));
  app.add_option("--cache-mb", options.CacheMb,
                 "Megabytes of answers kept in memory for reuse, 0 none; default a sixteenth of the memory, 64 to 1024")
      ->check(CLI::Range(0, 1 << 20));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fputs(app.help().c_str(), stderr);
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 2;
  }
  if (!metrics.empty()) SplitHostPort(metrics, options.MetricsHost, options.MetricsPort);
  if (!admin.empty()) SplitHostPort(admin, options.AdminHost, options.AdminPort);
  return std::nullopt;
}
