#include "service/CheckIndexesThrottle.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int64_t kInterval = TCheckIndexesThrottle::kInterval;

TEST(CheckIndexesThrottle, ATokenLongerThanAnyClientMakesIsAnsweredButNeverStored) {
  TCheckIndexesThrottle throttle(8, 10);
  const std::string longest(10, 'a'), longer(11, 'a');
  EXPECT_TRUE(throttle.Admit(longest, 0));
  EXPECT_FALSE(throttle.Admit(longest, 1));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(throttle.Admit(longer, i));
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(throttle.Admit(std::string(11, 'b') + std::to_string(i), 2));
  EXPECT_EQ(throttle.Count(), 1u);
}

TEST(CheckIndexesThrottle, EntriesGoWhenTheirIntervalRunsOutWithoutNewTokens) {
  TCheckIndexesThrottle throttle;
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(throttle.Admit("t" + std::to_string(i), i));
  throttle.Expire(kInterval - 1);
  EXPECT_EQ(throttle.Count(), 100u);
  throttle.Expire(kInterval + 49);  // the first 50 ran out
  EXPECT_EQ(throttle.Count(), 50u);
  EXPECT_FALSE(throttle.Admit("t50", kInterval + 49)) << "the rest still throttle";
  EXPECT_TRUE(throttle.Admit("t0", kInterval + 49));
  // An answer again moves the token to the newest: it outlives those stored before it.
  throttle.Expire(kInterval + 99);
  EXPECT_EQ(throttle.Count(), 1u);
  EXPECT_FALSE(throttle.Admit("t0", 2 * kInterval + 48));
  throttle.Expire(2 * kInterval + 49);
  EXPECT_EQ(throttle.Count(), 0u);
}

TEST(CheckIndexesThrottle, AtTheCapTheOldestEntryGoesFirst) {
  TCheckIndexesThrottle throttle(3);
  EXPECT_TRUE(throttle.Admit("a", 0));
  EXPECT_TRUE(throttle.Admit("b", 1));
  EXPECT_TRUE(throttle.Admit("c", 2));
  EXPECT_FALSE(throttle.Admit("a", 3)) << "a refusal leaves the time, and the order, as they were";
  EXPECT_TRUE(throttle.Admit("d", 4));
  EXPECT_EQ(throttle.Count(), 3u);
  EXPECT_TRUE(throttle.Admit("a", 5)) << "a, the oldest, made room for d";
  EXPECT_FALSE(throttle.Admit("c", 6));
  EXPECT_FALSE(throttle.Admit("d", 6));
  EXPECT_TRUE(throttle.Admit("b", 6)) << "b made room for a";
  EXPECT_EQ(throttle.Count(), 3u);
}

}  // namespace
