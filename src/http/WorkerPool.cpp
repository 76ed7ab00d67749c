#include "http/WorkerPool.h"

void TWorkerPool::Add(int count) {
  for (int i = 0; i < count; ++i) FThreads.emplace_back([this] { Run(); });
}

void TWorkerPool::Post(TJob job) {
  {
    std::lock_guard<std::mutex> hold(FLock);
    FJobs.push_back(std::move(job));
  }
  FWake.notify_one();
}

void TWorkerPool::Stop() {
  {
    std::lock_guard<std::mutex> hold(FLock);
    FStopping = true;
  }
  FWake.notify_all();
  for (auto& t : FThreads) t.join();
  FThreads.clear();
  std::deque<TJob> left;
  {
    std::lock_guard<std::mutex> hold(FLock);
    left.swap(FJobs);
  }
}

void TWorkerPool::Run() {
  for (;;) {
    TJob job;
    {
      std::unique_lock<std::mutex> hold(FLock);
      FWake.wait(hold, [this] { return FStopping || !FJobs.empty(); });
      if (FStopping) return;
      job = std::move(FJobs.front());
      FJobs.pop_front();
    }
    try {
      job();
    } catch (...) {
      // A failure inside one connection's step drops that connection only.
    }
  }
}
