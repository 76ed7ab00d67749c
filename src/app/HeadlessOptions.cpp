#include "app/HeadlessOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Inet.h"
#include "platform/ServiceHost.h"

namespace {

constexpr char kProgram[] = "NuvoClientDaemon";

// "HOST:PORT", with an IPv6 host in brackets; empty when it is well formed.
std::string SplitHostPort(const std::string& text, std::string& host, std::string& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return "expected HOST:PORT, got '" + text + "'";
  host = text.substr(0, colon);
  port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (!IsIpAddress(host)) return "'" + host + "' is not an IP address";
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

// A whole number from `low` to `high`, the reason in words otherwise.
CLI::Validator WholeNumberIn(int64_t low, int64_t high) {
  return CLI::Validator(
      [low, high](std::string& text) -> std::string {
        const size_t digits = text[0] == '-' ? 1 : 0;
        if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos) {
          const bool fraction = std::count(text.begin(), text.end(), '.') == 1 && text.size() > digits + 1 &&
                                text.find_first_not_of("0123456789.", digits) == std::string::npos;
          return "'" + text + "' is not " + (fraction ? "a whole number" : "a number");
        }
        const bool inRange = text.size() <= 11 && std::stoll(text) >= low && std::stoll(text) <= high;
        if (!inRange) return "'" + text + "' is not in " + std::to_string(low) + "-" + std::to_string(high);
        return {};
      },
      std::to_string(low) + "-" + std::to_string(high));
}

}  // namespace

std::optional<int> ParseHeadlessOptions(int argc, const char* const* argv, THeadlessOptions& options) {
  const bool serviceHost = ServiceHostAvailable();
  CLI::App app(serviceHost ? "The resource server without a window: serves the folder's Config.ini and lists,\n"
                             "logs to standard output. Ctrl+C, Ctrl+Break or closing the window stops it;\n"
                             "--control reloads, restarts or stops the one running in a folder.\n"
                             "As a service: sc stop, sc control NAME paramchange (reload), sc control NAME 128 (restart)."
                           : "The resource server without a window: serves the folder's Config.ini and lists,\n"
                             "logs to standard output. SIGHUP reloads the resources, SIGUSR1 restarts the service,\n"
                             "SIGTERM or SIGINT stops it.",
               kProgram);
  // A plain flag rather than CLI11's version flag, which answers before the rest of the command
  // line is checked: "--version extra" is refused.
  bool version = false;
  app.add_flag("--version", version, "Print the program's name and version and exit");
  app.add_option("--dir", options.Dir, "Working directory (Config.ini, the lists, Logs/); default the current one")
      ->check(CLI::Validator(
          [](std::string& s) { return DirectoryExists(s) ? std::string() : "Directory does not exist: " + s; }, "DIR"));
  // 4095 MB/s is the largest cap the front end's 32-bit rate holds.
  app.add_option("--max-bandwidth", options.MaxBandwidth,
                 "Send rate cap for all connections together in MB/s, 0 no cap; default Config.ini's (100)")
      ->check(WholeNumberIn(0, 4095));
  app.add_option("--listen", options.Listen, "IP address of the interface the game port binds; default every interface")
      ->check(CLI::Validator([](std::string& s) { return IsIpAddress(s) ? std::string() : "'" + s + "' is not an IP address"; },
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
                 "Cache-Control: max-age in seconds on answers with an entity tag (0: revalidate every time); "
                 "default no such header")
      ->check(WholeNumberIn(0, 2147483647));
  app.add_option("--max-connections-per-address", options.MaxConnectionsPerAddress,
                 "Most connections one client address may hold on the game port; default 2500")
      ->check(WholeNumberIn(1, 1000000));
  bool installService = false, uninstallService = false;
  if (serviceHost) {
    auto* install = app.add_flag("--install-service", installService,
                                 "Register as a service started with the system, working in --dir (or the current "
                                 "directory) with the options given here; then exit");
    auto* uninstall = app.add_flag("--uninstall-service", uninstallService, "Stop and remove the service; then exit");
    install->excludes(uninstall);
    app.add_option("--service-name", options.ServiceName, "Name of the service; default NuvoClientDaemon");
    app.add_flag("--service", options.AsService, "Run under the service manager (its command line has it)")
        ->group("");
    app.add_option("--control", options.Control,
                   "Send reload, restart or stop to the program running in --dir (or the current directory); then exit")
        ->check(CLI::IsMember({"reload", "restart", "stop"}))
        ->excludes(install)
        ->excludes(uninstall);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fputs(app.help().c_str(), stderr);
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 2;
  }
  if (version) {
    std::printf("%s %s\n", kProgram, NUVO_VERSION);
    return 0;
  }
  if (!metrics.empty()) SplitHostPort(metrics, options.MetricsHost, options.MetricsPort);
  options.Metrics = metrics;
  if (installService) options.Action = THeadlessOptions::TAction::InstallService;
  if (uninstallService) options.Action = THeadlessOptions::TAction::UninstallService;
  if (!options.Control.empty()) options.Action = THeadlessOptions::TAction::Control;
  if (!admin.empty()) SplitHostPort(admin, options.AdminHost, options.AdminPort);
  options.Admin = admin;
  return std::nullopt;
}

std::vector<std::string> ServiceArguments(const THeadlessOptions& options, const std::string& dir) {
  std::vector<std::string> args = {"--service", "--service-name", options.ServiceName, "--dir", dir};
  if (options.MaxBandwidth >= 0) args.insert(args.end(), {"--max-bandwidth", std::to_string(options.MaxBandwidth)});
  if (options.Listen != "+") args.insert(args.end(), {"--listen", options.Listen});
  if (!options.Metrics.empty()) args.insert(args.end(), {"--metrics", options.Metrics});
  if (options.CacheMaxAge) args.insert(args.end(), {"--cache-max-age", std::to_string(*options.CacheMaxAge)});
  if (options.MaxConnectionsPerAddress != 0)
    args.insert(args.end(), {"--max-connections-per-address", std::to_string(options.MaxConnectionsPerAddress)});
  if (!options.Admin.empty()) args.insert(args.end(), {"--admin", options.Admin, "--admin-token-file", options.AdminTokenFile});
  return args;
}
