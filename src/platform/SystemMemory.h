// How much memory the machine has, for defaults that scale with it. Any thread.
#pragma once

#include <cstdint>

// Bytes of physical memory; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();
