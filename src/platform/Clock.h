// The one clock: a monotonic millisecond tick and the local date-time texts of the logs.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

// Milliseconds since an arbitrary fixed point; never goes back.
uint64_t GetTickCount64();
// Nanoseconds on the same clock, for timing finer than a millisecond.
uint64_t GetTickCountNs();
// A reading of the monotonic clock, in the unit of the function it stands for (GetTickCount64,
// GetTickCountNs); units take one so that tests can drive time themselves.
using TTickSource = std::function<uint64_t()>;
// Local date and time as the logs write it: short date "yyyy/M/d", a blank, long time "H:mm:ss".
std::string DateTimeText(std::time_t t);
std::string NowDateTimeText();
// Local date and time as "yyyyMMddHHmmss" (work-log file names).
std::string DateTimeStamp(std::time_t t);
