// The bandwidth cap's share per client address, on a simulated clock: senders that always want
// more (connections downloading large bodies) ask again as soon as they are granted a chunk.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "http/BandwidthBucket.h"

namespace {

using namespace std::chrono_literals;
using Clock = TBandwidthBucket::Clock;

constexpr uint32_t kRate = 16u << 20;
constexpr std::size_t kChunk = 64 * 1024;  // what one turn grants at this rate

class TSimulation {
 public:
  TSimulation() { Bucket.SetRate(kRate); }

  // `connections` senders of `address`, each wanting `body` bytes again and again.
  void Connect(const std::string& address, int connections, std::size_t body = 2 << 20) {
    for (int i = 0; i < connections; ++i) Ready.push_back({address, body});
    AskForReady();
  }
  void Run(Clock::duration length) {
    for (const auto end = Now + length; Now < end;) {
      Now += 100us;
      if (Due && Now >= *Due) Due = Bucket.Dispatch();
      AskForReady();
    }
  }

  Clock::time_point Now = Clock::time_point{} + 1h;
  TBandwidthBucket Bucket{[this] { return Now; }};
  std::map<std::string, uint64_t> Bytes;
  std::map<std::string, Clock::time_point> FirstGrant;

 private:
  struct TSender {
    std::string Address;
    std::size_t Wanted;
  };
  void Granted(const TSender& s, std::size_t bytes) {
    Bytes[s.Address] += bytes;
    FirstGrant.try_emplace(s.Address, Now);
    Ready.push_back(s);
  }
  void AskForReady() {
    while (!Ready.empty()) {
      const TSender s = Ready.back();
      Ready.pop_back();
      auto ask = Bucket.Ask(s.Address, s.Wanted, [this, s](std::size_t bytes) { Granted(s, bytes); });
      if (ask.DispatchAt) Due = ask.DispatchAt;
      if (ask.Bytes > 0) Granted(s, ask.Bytes);
    }
  }

  std::vector<TSender> Ready;
  std::optional<Clock::time_point> Due;
};

}  // namespace

TEST(BandwidthShare, AddressesShareTheCapEquallyWhateverTheirConnections) {
  TSimulation sim;
  sim.Connect("10.0.0.1", 100);
  sim.Connect("10.0.0.2", 1);
  sim.Run(1s);
  const uint64_t many = sim.Bytes["10.0.0.1"], one = sim.Bytes["10.0.0.2"];
  EXPECT_LE(std::max(many, one) - std::min(many, one), kChunk) << many << " " << one;
  // The total stays at the cap: at most the short burst an idle start allows beyond it.
  EXPECT_GE(many + one, kRate - kChunk);
  EXPECT_LE(many + one, kRate + 2 * kChunk);
}

TEST(BandwidthShare, AnAddressAloneGetsTheWholeCap) {
  TSimulation sim;
  sim.Connect("10.0.0.1", 100);
  sim.Run(1s);
  EXPECT_GE(sim.Bytes["10.0.0.1"], kRate - kChunk);
  EXPECT_LE(sim.Bytes["10.0.0.1"], kRate + 2 * kChunk);
  EXPECT_EQ(sim.Bucket.Waiting(), 100u);  // everyone asked again and waits for the next turn
}

TEST(BandwidthShare, ANewcomerWaitsOneTurnNotBehindEveryWaitingConnection) {
  TSimulation sim;
  sim.Connect("10.0.0.1", 1000);
  sim.Run(500ms);
  const auto asked = sim.Now;
  sim.Connect("10.0.0.9", 1, 20 * 1024);  // a player's image
  sim.Run(100ms);
  ASSERT_TRUE(sim.FirstGrant.count("10.0.0.9"));
  // Granted in its first turn: behind one chunk of the other address, not behind 1,000.
  const auto cost = std::chrono::nanoseconds(1000000000ull * kChunk / kRate);
  EXPECT_LE(sim.FirstGrant["10.0.0.9"] - asked, 2 * cost + 200us);
}

TEST(BandwidthShare, WithoutACapEverythingGoesAtOnce) {
  TBandwidthBucket bucket;
  bucket.SetRate(0);
  auto ask = bucket.Ask("10.0.0.1", 5u << 20, [](std::size_t) { ADD_FAILURE() << "nobody waits without a cap"; });
  EXPECT_EQ(ask.Bytes, 5u << 20);
  EXPECT_FALSE(ask.DispatchAt);
  bucket.SetRate(1);
  EXPECT_EQ(bucket.Rate(), 1024u);
}
