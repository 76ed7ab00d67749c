// Slows down whoever keeps offering the admin console a wrong token: after a few free failures an
// address must wait, longer after every further failure, before its next token is even looked
// at. Holds at most kMaxAddresses addresses (an IPv6 client counts by its /64 network), so a
// flood of addresses cannot grow it. Any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class TAdminThrottle {
 public:
  static constexpr unsigned kFreeFailures = 5;
  static constexpr uint64_t kFirstWaitMs = 1000;   // after the free failures; doubles each time
  static constexpr uint64_t kLongestWaitMs = 60000;
  static constexpr uint64_t kForgetMs = 15 * 60000;  // an address quiet this long starts afresh
  static constexpr size_t kMaxAddresses = 4096;

  // False while `address` must wait: refuse it without looking at its token.
  bool MayTry(std::string_view address, uint64_t nowMs);
  // A wrong or missing token from `address`.
  void Failed(std::string_view address, uint64_t nowMs);
  // The right token: `address` starts afresh.
  void Succeeded(std::string_view address);
  size_t Addresses() const;

 private:
  struct TRecord {
    unsigned Failures = 0;
    uint64_t LastMs = 0;
    uint64_t NextTryMs = 0;
  };
  void MakeRoom(uint64_t nowMs);

  mutable std::mutex FLock;
  std::unordered_map<std::string, TRecord> FRecords;
};

// The key an address counts under: an IPv4 address as it is, an IPv6 address by its first 64
// bits, anything else as the text it is.
std::string ThrottleKey(std::string_view address);
