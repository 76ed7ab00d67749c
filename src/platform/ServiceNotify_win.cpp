#include "platform/ServiceNotify.h"

#include "platform/ServiceHost.h"

void NotifyServiceManager(const std::string& state) { ReportToServiceManager(state); }
