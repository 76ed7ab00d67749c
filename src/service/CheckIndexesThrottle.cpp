#include "service/CheckIndexesThrottle.h"

#include <climits>

bool TCheckIndexesThrottle::Admit(std::string_view token, int64_t now) {
  // Never stored, so never throttled: answered as a token seen for the first time.
  if (token.size() > FMaxToken) return true;
  std::lock_guard<std::mutex> hold(FLock);
  DropExpired(now);
  auto found = FIndex.find(token);
  if (found != FIndex.end()) {
    if (now - found->second->At < kInterval) return false;
    found->second->At = now;
    FOrder.splice(FOrder.end(), FOrder, found->second);
  } else {
    if (FIndex.size() >= FMaxEntries && !FOrder.empty()) {
      FIndex.erase(FOrder.front().Token);
      FOrder.pop_front();
    }
    FOrder.push_back({std::string(token), now});
    FIndex.emplace(FOrder.back().Token, std::prev(FOrder.end()));
  }
  FOldest.store(FOrder.front().At, std::memory_order_relaxed);
  return true;
}

void TCheckIndexesThrottle::Expire(int64_t now) {
  if (now - FOldest.load(std::memory_order_relaxed) < kInterval) return;
  std::lock_guard<std::mutex> hold(FLock);
  DropExpired(now);
}

std::size_t TCheckIndexesThrottle::Count() const {
  std::lock_guard<std::mutex> hold(FLock);
  return FIndex.size();
}

// An entry whose interval has run out throttles nothing, so dropping it changes no answer.
void TCheckIndexesThrottle::DropExpired(int64_t now) {
  while (!FOrder.empty() && now - FOrder.front().At >= kInterval) {
    FIndex.erase(FOrder.front().Token);
    FOrder.pop_front();
  }
  FOldest.store(FOrder.empty() ? INT64_MAX : FOrder.front().At, std::memory_order_relaxed);
}
