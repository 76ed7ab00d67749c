// The request service's own unit: the work log of refused requests and the error page that answers
// them. Both may be used from every HTTP worker thread at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// The vendor's web host, named in the error page and in the start line of the console and daemon.
inline constexpr char kVendorHost[] = "www.nuvoclient.example";
inline constexpr char kVendorUrl[] = "https://www.nuvoclient.example";

// One work-log file: a line per call, appended in the order the calls take the lock, so lines are
// never interleaved or lost and no writer fails because another one holds the file.
class TWorkLog {
 public:
  explicit TWorkLog(std::string fileName) : WorkLogsFile(std::move(fileName)) {}
  const std::string& FileName() const { return WorkLogsFile; }
  // Appends "<date> <time> <msg>" and CR LF in code page 936; `msg` is UTF-8.
  // Throws EInOutError when the file cannot be opened or written.
  void LogsOut(const std::string& msg);

 private:
  const std::string WorkLogsFile;
  std::mutex FLock;
};

// The body of every refused request, 8-bit text: two lines, or three with "Error Code: <nCode>"
// when nCode is not 0, each ending in CR LF.
std::string GetErrorMsg(int32_t nCode);
