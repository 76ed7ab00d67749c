// CRC-32 (reflected polynomial 0xEDB88320) carried with every image entry sent to a client.
// Reentrant; the table is built before main() runs.
#pragma once

#include <cstdint>

// CRC of `Len` bytes continued from `OrgCRC32` (0 to start). An empty input returns the
// complement of `OrgCRC32` (0xFFFFFFFF from 0), which is what deployed clients have always been
// sent for an image entry without bytes.
uint32_t CRC32Calc(uint32_t OrgCRC32, const void* Data, uint32_t Len);
// The table-driven loop itself, byte by byte; same values as CRC32Calc for non-empty input.
uint32_t CRC32CalcTable(uint32_t OrgCRC32, const void* Data, uint32_t Len);
