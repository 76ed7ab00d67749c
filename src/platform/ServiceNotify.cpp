#include "platform/ServiceNotify.h"

#include <systemd/sd-daemon.h>

void NotifyServiceManager(const std::string& state) {
  // The environment stays set: a service stopped and started again tells its readiness again.
  sd_notify(0, state.c_str());
}
