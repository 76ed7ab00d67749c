// The system's logs as tests compare them: lines without their date and time.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/LogSink.h"

// The lines of a work-log file (code page 936, CR LF) as UTF-8, each without the date and time
// in front; empty when the file does not exist.
std::vector<std::string> WorkLogLines(const std::string& file);
// Takes every line off the operator log queue, each without its "[date time] " prefix.
std::vector<std::string> DrainLogQueue();

// The lines a component writes to its log sink, recorded from any thread.
class TRecordedLog {
 public:
  // A sink that records into this object, which must outlive the component using it.
  TLogSink Sink();
  // Takes every line recorded so far.
  std::vector<std::string> Drain();

 private:
  std::mutex FLock;
  std::vector<std::string> FLines;
};
