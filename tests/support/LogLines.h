// The system's logs as tests compare them: lines without their date and time.
#pragma once

#include <string>
#include <vector>

// The lines of a work-log file (code page 936, CR LF) as UTF-8, each without the date and time
// in front; empty when the file does not exist.
std::vector<std::string> WorkLogLines(const std::string& file);
// Takes every line off the operator log queue, each without its "[date time] " prefix.
std::vector<std::string> DrainLogQueue();
