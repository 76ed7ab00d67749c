#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "settings/TarnShare.h"
#include "support/SharedStateTest.h"

namespace {

using LogQueueTest = SharedStateTest;
using namespace std::chrono_literals;

TEST_F(LogQueueTest, MainOutMessageQueuesDateTimeAndText) {
  MainOutMessage("微端部署地址: http://+:8800/wclientdat/");
  MainOutMessage("");
  const std::vector<std::string> lines = g_ErrorList.Drain();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(R"(\[\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{2}:\d{2}\] 微端部署地址: http://\+:8800/wclientdat/)")));
  EXPECT_EQ(lines[1].back(), ' ');
  EXPECT_TRUE(g_ErrorList.Drain().empty());
}

TEST_F(LogQueueTest, WaitDrainWakesOnAppendAndTimesOutEmpty) {
  EXPECT_TRUE(g_ErrorList.WaitDrain(10ms).empty());
  std::thread producer([] {
    std::this_thread::sleep_for(20ms);
    g_ErrorList.Append("late");
  });
  // Generous bound: the line must arrive well before the wait runs out.
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> got = g_ErrorList.WaitDrain(10s);
  producer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(got, std::vector<std::string>{"late"});
}

// Several producers append while a consumer drains: every line arrives once, and each
// producer's lines arrive in the order it queued them.
TEST_F(LogQueueTest, NoLineLostOrReorderedUnderConcurrentAppendAndDrain) {
  constexpr int kProducers = 4;
  constexpr int kLines = 5000;
  std::atomic<int> running{kProducers};
  std::vector<std::string> drained;
  std::thread consumer([&] {
    for (;;) {
      const bool last = running == 0;  // read before draining, so nothing is left behind
      for (std::string& line : g_ErrorList.WaitDrain(1ms)) drained.push_back(std::move(line));
      if (last) break;
    }
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([p, &running] {
      for (int i = 0; i < kLines; ++i) {
        if (i % 2 == 0) {
          g_ErrorList.Append(std::to_string(p) + ":" + std::to_string(i));
        } else {
          MainOutMessage(std::to_string(p) + ":" + std::to_string(i));
        }
      }
      --running;
    });
  }
  for (auto& t : producers) t.join();
  consumer.join();

  ASSERT_EQ(drained.size(), static_cast<size_t>(kProducers * kLines));
  std::vector<int> next(kProducers, 0);
  for (const std::string& line : drained) {
    const size_t text = line.rfind(' ') == std::string::npos ? 0 : line.rfind(' ') + 1;
    const size_t colon = line.find(':', text);
    const int p = std::stoi(line.substr(text, colon - text));
    const int i = std::stoi(line.substr(colon + 1));
    ASSERT_EQ(i, next[p]) << "producer " << p;
    ++next[p];
  }
}

}  // namespace
