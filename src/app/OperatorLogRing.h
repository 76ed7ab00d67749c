// The operator log's last lines for the browser console: every line the program shows is numbered
// from 0 in order, and the newest kCapacity lines are kept so that a reader can ask for what came
// after the line it saw last. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class TOperatorLogRing {
 public:
  static constexpr size_t kCapacity = 2000;  // as many as the window's log view holds
  static constexpr size_t kMaxLinesPerRead = 500;

  void Append(const std::vector<std::string>& lines);

  struct TRead {
    uint64_t First = 0;  // number of Lines[0]; above the asked number when older lines are gone
    std::vector<std::string> Lines;
    uint64_t Next = 0;   // the number to ask for next
  };
  // The kept lines numbered `since` and above, at most kMaxLinesPerRead.
  TRead Since(uint64_t since) const;
  uint64_t Next() const;

 private:
  mutable std::mutex FLock;
  std::deque<std::string> FLines;
  uint64_t FFirst = 0;  // number of FLines.front()
};
