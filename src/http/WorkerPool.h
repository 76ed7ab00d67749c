// The workers of a front end: one queue of waiting jobs that any idle worker thread takes, in the
// order they were posted. Safe from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TWorkerPool {
 public:
  using TJob = std::function<void()>;
  ~TWorkerPool() { Stop(); }
  void Add(int count);
  int Count() const { return int(FThreads.size()); }
  void Post(TJob job);
  // Lets running jobs finish, joins the threads and drops the jobs that still wait.
  void Stop();

 private:
  void Run();

  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<TJob> FJobs;
  bool FStopping = false;
  std::vector<std::thread> FThreads;
};
