// The service's process-wide state read by the console and the daemon: the traffic counters and
// whether a service answers requests. Atomics: any thread.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<uint64_t> g_nDataRead;     // requests answered from the catalogue
extern std::atomic<uint64_t> g_nDataSend;     // body bytes sent
extern std::atomic<uint64_t> g_nDataSec;      // body bytes sent since the last traffic line
extern std::atomic<uint64_t> g_nDataRead404;  // refused requests
extern std::atomic<bool> g_boStart;           // a service object answers requests

// Puts the counters and the flag back to their initial values (tests).
void ResetServiceState();
