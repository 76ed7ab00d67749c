#include "http/WorkerPool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A gate jobs wait at until the test opens it, and a count the test waits for.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = false;
  int Done = 0;

  void WaitOpen() {
    std::unique_lock<std::mutex> hold(Lock);
    Changed.wait(hold, [this] { return Open; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(Lock);
    Open = true;
    Changed.notify_all();
  }
  void Finish() {
    std::lock_guard<std::mutex> hold(Lock);
    ++Done;
    Changed.notify_all();
  }
  // The bound only keeps a broken pool from hanging the test; it measures nothing.
  bool WaitDone(int n) {
    std::unique_lock<std::mutex> hold(Lock);
    return Changed.wait_for(hold, 60s, [&] { return Done >= n; });
  }
};

TEST(WorkerPool, JobsRunInTheOrderTheyWerePosted) {
  TWorkerPool pool;
  pool.Add(1);
  TGate gate;
  std::vector<int> order;
  pool.Post([&] { gate.WaitOpen(); });  // the rest queue up behind it
  for (int i = 0; i < 200; ++i)
    pool.Post([&, i] {
      order.push_back(i);
      gate.Finish();
    });
  gate.Release();
  ASSERT_TRUE(gate.WaitDone(200));
  pool.Stop();
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
}

TEST(WorkerPool, AStalledJobDelaysNoOtherAndAFailingOneStopsNoWorker) {
  TWorkerPool pool;
  pool.Add(2);
  EXPECT_EQ(pool.Count(), 2);
  TGate stall, rest;
  bool stalledDone = false;
  pool.Post([&] {
    stall.WaitOpen();
    stalledDone = true;
  });
  for (int i = 0; i < 100; ++i) {
    pool.Post([] { throw std::runtime_error("one connection's failure"); });
    pool.Post([&] { rest.Finish(); });
  }
  EXPECT_TRUE(rest.WaitDone(100)) << "every other job ran on the other worker meanwhile";
  stall.Release();
  pool.Stop();  // lets the stalled job finish
  EXPECT_TRUE(stalledDone);
  EXPECT_EQ(pool.Count(), 0);
}

}  // namespace
