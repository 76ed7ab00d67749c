// The wrong-token throttle: a few free failures, then waits that double up to a cap; the right
// token starts afresh; a flood of addresses cannot grow it.
#include "app/AdminThrottle.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using T = TAdminThrottle;

TEST(AdminThrottle, WaitsDoubleAfterTheFreeFailuresUpToTheCap) {
  T throttle;
  uint64_t now = 1000;
  for (unsigned i = 0; i < T::kFreeFailures; ++i) {
    ASSERT_TRUE(throttle.MayTry("10.0.0.1", now));
    throttle.Failed("10.0.0.1", now);
  }
  EXPECT_TRUE(throttle.MayTry("10.0.0.1", now)) << "the free failures cost nothing";
  uint64_t wait = T::kFirstWaitMs;
  for (int round = 0; round < 10; ++round) {
    throttle.Failed("10.0.0.1", now);
    EXPECT_FALSE(throttle.MayTry("10.0.0.1", now + wait - 1)) << round;
    EXPECT_TRUE(throttle.MayTry("10.0.0.1", now + wait)) << round;
    EXPECT_TRUE(throttle.MayTry("10.0.0.2", now)) << "other addresses are not held up";
    now += wait;
    wait = std::min(wait * 2, T::kLongestWaitMs);
  }
  EXPECT_EQ(wait, T::kLongestWaitMs);
}

TEST(AdminThrottle, RightTokenOrLongQuietStartsAfresh) {
  T throttle;
  for (unsigned i = 0; i <= T::kFreeFailures; ++i) throttle.Failed("10.0.0.1", 0);
  EXPECT_FALSE(throttle.MayTry("10.0.0.1", 1));
  throttle.Succeeded("10.0.0.1");
  EXPECT_TRUE(throttle.MayTry("10.0.0.1", 1));
  EXPECT_EQ(throttle.Addresses(), 0u);

  for (unsigned i = 0; i < T::kFreeFailures; ++i) throttle.Failed("10.0.0.1", 0);
  throttle.Failed("10.0.0.1", T::kForgetMs);  // after a long quiet: a first failure again
  EXPECT_TRUE(throttle.MayTry("10.0.0.1", T::kForgetMs));
}

TEST(AdminThrottle, AnIpv6NetworkCountsAsOneAddress) {
  T throttle;
  for (unsigned i = 0; i <= T::kFreeFailures; ++i)
    throttle.Failed("2001:db8:1:2::" + std::to_string(i + 1), 0);
  EXPECT_FALSE(throttle.MayTry("2001:db8:1:2:ffff::9", 1));
  EXPECT_TRUE(throttle.MayTry("2001:db8:1:3::1", 1));
  EXPECT_EQ(throttle.Addresses(), 1u);
  EXPECT_EQ(ThrottleKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
  EXPECT_EQ(ThrottleKey("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ThrottleKey(""), "");
}

TEST(AdminThrottle, AFloodOfAddressesStaysBounded) {
  T throttle;
  for (unsigned i = 0; i <= T::kFreeFailures; ++i) throttle.Failed("192.168.0.1", 0);
  for (uint32_t i = 0; i < 3 * T::kMaxAddresses; ++i) {
    const std::string address = "10." + std::to_string(i >> 16 & 255) + "." + std::to_string(i >> 8 & 255) + "." +
                                std::to_string(i & 255);
    throttle.Failed(address, 1 + i);
    ASSERT_LE(throttle.Addresses(), T::kMaxAddresses);
  }
  // The quietest address went first.
  EXPECT_TRUE(throttle.MayTry("192.168.0.1", 2));
}

}  // namespace
