#include "platform/ServiceHost.h"

bool ServiceHostAvailable() { return false; }

std::string InstallService(const std::string&, const std::vector<std::string>&) {
  return "no service manager of this kind here: use the systemd unit";
}

std::string UninstallService(const std::string& name) { return InstallService(name, {}); }

std::optional<int> RunAsService(const std::string&, const std::function<int()>&) { return std::nullopt; }

void ReportToServiceManager(const std::string&) {}
