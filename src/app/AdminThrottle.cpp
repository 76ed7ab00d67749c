#include "app/AdminThrottle.h"

#include <utility>

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <array>

std::string ThrottleKey(std::string_view address) {
  boost::system::error_code ec;
  const auto parsed = boost::asio::ip::make_address(std::string(address), ec);
  if (ec || !parsed.is_v6()) return std::string(address);
  std::array<unsigned char, 16> bytes = parsed.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

bool TAdminThrottle::MayTry(std::string_view address, uint64_t nowMs) {
  std::lock_guard hold(FLock);
  const auto it = FRecords.find(ThrottleKey(address));
  return it == FRecords.end() || nowMs >= it->second.NextTryMs;
}

void TAdminThrottle::Failed(std::string_view address, uint64_t nowMs) {
  std::string key = ThrottleKey(address);
  std::lock_guard hold(FLock);
  auto it = FRecords.find(key);
  if (it == FRecords.end()) {
    MakeRoom(nowMs);
    it = FRecords.emplace(std::move(key), TRecord{}).first;
  }
  TRecord& r = it->second;
  if (nowMs - r.LastMs >= kForgetMs) r.Failures = 0;
  ++r.Failures;
  r.LastMs = nowMs;
  if (r.Failures > kFreeFailures) {
    const unsigned doublings = std::min(r.Failures - kFreeFailures - 1, 16u);
    r.NextTryMs = nowMs + std::min(kFirstWaitMs << doublings, kLongestWaitMs);
  }
}

void TAdminThrottle::Succeeded(std::string_view address) {
  std::lock_guard hold(FLock);
  FRecords.erase(ThrottleKey(address));
}

size_t TAdminThrottle::Addresses() const {
  std::lock_guard hold(FLock);
  return FRecords.size();
}

// Forgets the quiet addresses; when all are recent, the one quiet longest.
void TAdminThrottle::MakeRoom(uint64_t nowMs) {
  if (FRecords.size() < kMaxAddresses) return;
  std::erase_if(FRecords, [nowMs](const auto& entry) { return nowMs - entry.second.LastMs >= kForgetMs; });
  if (FRecords.size() < kMaxAddresses) return;
  const auto oldest = std::min_element(FRecords.begin(), FRecords.end(), [](const auto& a, const auto& b) {
    return a.second.LastMs < b.second.LastMs;
  });
  FRecords.erase(oldest);
}
