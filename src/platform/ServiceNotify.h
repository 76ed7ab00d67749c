// Tells the service manager how the program stands (systemd's notify protocol: READY=1,
// RELOADING=1, STOPPING=1, STATUS=...). Does nothing when the program was not started with a
// notify socket. Any thread.
#pragma once

#include <string>

void NotifyServiceManager(const std::string& state);
