// The 64 record bytes a client must receive for an image, built from the wire layout rather than
// from the reader; shared by the library tests and the stress test.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/WIL.h"

// The debug file libraries write in the current directory.
inline constexpr char kDebugFileName[] = "GameImageDaebug.txt";

// The three forms of the record. `stored` is the entry header as stored in the library file:
// 16 bytes go to the WZL field, 20 to the JPK field.
std::string AbsentRecordBytes(int32_t nType, int32_t nOffSet);
std::string EmptyRecordBytes(int32_t nType, std::string_view stored, int32_t nOffSet);
std::string FullRecordBytes(int32_t nType, int32_t nIndex, std::string_view stored,
                            std::string_view data, int32_t nOffSet);
std::string RecordBytes(const TWImage& rec);
// The CRC clients get: CRC-32, or 0xFFFFFFFF for no bytes.
uint32_t ClientCrc(std::string_view data);
