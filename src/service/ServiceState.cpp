#include "service/ServiceState.h"

std::atomic<uint64_t> g_nDataRead{0};
std::atomic<uint64_t> g_nDataSend{0};
std::atomic<uint64_t> g_nDataSec{0};
std::atomic<uint64_t> g_nDataRead404{0};
std::atomic<bool> g_boStart{false};

void ResetServiceState() {
  for (auto* counter : {&g_nDataRead, &g_nDataSend, &g_nDataSec, &g_nDataRead404}) *counter = 0;
  g_boStart = false;
}
