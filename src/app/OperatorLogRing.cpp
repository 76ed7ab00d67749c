#include "app/OperatorLogRing.h"

#include <algorithm>

void TOperatorLogRing::Append(const std::vector<std::string>& lines) {
  std::lock_guard hold(FLock);
  for (const std::string& line : lines) {
    FLines.push_back(line);
    if (FLines.size() > kCapacity) {
      FLines.pop_front();
      ++FFirst;
    }
  }
}

TOperatorLogRing::TRead TOperatorLogRing::Since(uint64_t since) const {
  std::lock_guard hold(FLock);
  TRead read;
  const uint64_t end = FFirst + FLines.size();
  read.First = std::clamp(since, FFirst, end);
  const uint64_t count = std::min<uint64_t>(end - read.First, kMaxLinesPerRead);
  const auto from = FLines.begin() + static_cast<std::ptrdiff_t>(read.First - FFirst);
  read.Lines.assign(from, from + static_cast<std::ptrdiff_t>(count));
  read.Next = read.First + count;
  return read;
}

uint64_t TOperatorLogRing::Next() const {
  std::lock_guard hold(FLock);
  return FFirst + FLines.size();
}
