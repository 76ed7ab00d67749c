#include "http/BandwidthBucket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr uint64_t kSecond = 1000000000;

// Senders that always have an answer to send, on a clock the test drives: each reserves again as
// soon as its last grant may go out (writes take no time). Returns the bytes let go in each second.
struct TSimulation {
  uint64_t Now = 0;
  TBandwidthBucket Bucket{[this] { return Now; }};

  std::vector<uint64_t> Run(int senders, std::size_t answerSize, int seconds,
                            void (*atSecond)(TSimulation&, int) = nullptr) {
    std::vector<uint64_t> released(seconds, 0);
    std::vector<uint64_t> ready(senders, Now);
    std::vector<std::size_t> left(senders, answerSize);
    int second = 0;
    for (;;) {
      const auto next = std::min_element(ready.begin(), ready.end()) - ready.begin();
      Now = ready[next];
      while (second < seconds && Now >= uint64_t(second + 1) * kSecond) {
        ++second;
        if (atSecond && second < seconds) atSecond(*this, second);
      }
      if (second >= seconds) return released;
      const TBandwidthBucket::TGrant grant = Bucket.Reserve(left[next]);
      const uint64_t start = Now + uint64_t(grant.Wait.count());
      if (start / kSecond < uint64_t(seconds)) released[start / kSecond] += grant.Bytes;
      ready[next] = start;
      left[next] -= grant.Bytes;
      if (left[next] == 0) left[next] = answerSize;
    }
  }
};

TEST(BandwidthBucket, ACapOfNBytesASecondLetsNBytesGoInEachSecond) {
  struct Case {
    uint32_t cap;
    int senders;
    std::size_t answerSize;
    uint64_t perSecond;  // what the cap becomes
    uint64_t chunk;      // the most one grant holds: the bound of a second's deviation
  } cases[] = {
      {160000, 1, 1 << 20, 160000, 10000},      // chunks of a sixteenth of a second
      {160000, 3, 3000, 160000, 10000},         // small answers of several connections
      {1000, 2, 5000, 1024, 1024},              // a cap below 1024 becomes 1024
      {100u << 20, 4, 64 << 10, 100u << 20, 64 << 10},
      {50000, 1, 700, 50000, 3125},
  };
  for (const Case& c : cases) {
    TSimulation sim;
    sim.Bucket.SetRate(c.cap);
    EXPECT_EQ(sim.Bucket.Rate(), c.perSecond);
    const std::vector<uint64_t> released = sim.Run(c.senders, c.answerSize, 10);
    uint64_t total = 0;
    for (std::size_t s = 0; s < released.size(); ++s) {
      total += released[s];
      // No second gets more than its share and a grant that straddles into it; nothing drifts.
      EXPECT_LE(released[s], c.perSecond + c.chunk) << c.cap << " second " << s;
      EXPECT_GE(released[s] + c.chunk, c.perSecond) << c.cap << " second " << s;
      EXPECT_LE(total, (s + 1) * c.perSecond + c.chunk) << c.cap << " second " << s;
      EXPECT_GE(total + c.chunk, (s + 1) * c.perSecond) << c.cap << " second " << s;
    }
  }
  TSimulation aligned;  // chunks that divide the second exactly: exactly N in every second
  aligned.Bucket.SetRate(160000);
  for (uint64_t bytes : aligned.Run(2, 1 << 20, 5)) EXPECT_EQ(bytes, 160000u);
}

TEST(BandwidthBucket, ANewRateAppliesAtOnceWithoutDebtAndZeroRemovesTheCap) {
  TSimulation sim;
  sim.Bucket.SetRate(160000);
  const std::vector<uint64_t> released = sim.Run(2, 1 << 20, 6, [](TSimulation& s, int second) {
    if (second == 3) s.Bucket.SetRate(320000);
  });
  for (int s = 0; s < 6; ++s) {
    if (s == 3) {  // the new rate's share, and what the old one had already let go into it
      EXPECT_GE(released[s], 320000u);
      EXPECT_LE(released[s], 320000u + 2 * 10000u);
    } else {
      EXPECT_EQ(released[s], s < 3 ? 160000u : 320000u) << s;
    }
  }

  // A slower rate forgets what the faster one had reserved ahead.
  sim.Bucket.SetRate(1024);
  auto first = sim.Bucket.Reserve(100000);
  EXPECT_EQ(first.Bytes, 1024u);
  EXPECT_EQ(first.Wait.count(), 0);
  EXPECT_EQ(sim.Bucket.Reserve(100000).Wait.count(), int64_t(kSecond));

  sim.Bucket.SetRate(0);
  for (int i = 0; i < 3; ++i) {
    auto grant = sim.Bucket.Reserve(5u << 20);
    EXPECT_EQ(grant.Bytes, 5u << 20);
    EXPECT_EQ(grant.Wait.count(), 0);
  }
}

}  // namespace
