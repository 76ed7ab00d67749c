#include "catalogue/OrderedWork.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

unsigned OrderedWorkThreads(unsigned threads) {
  if (threads != 0) return threads;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

void RunOrderedWork(const TOrderedWork& w) {
  const unsigned threads = OrderedWorkThreads(w.Threads);
  const size_t window = w.Window != 0 ? w.Window : size_t{threads} * 4;
  std::mutex m;
  std::condition_variable changed;
  size_t next = 0;       // the next item a pool thread takes
  size_t committed = 0;  // items the caller has taken
  bool stop = false;
  std::vector<char> done(w.Count, 0);
  std::vector<std::exception_ptr> errors(w.Count);

  const auto worker = [&](unsigned id) {
    for (;;) {
      size_t i;
      {
        std::unique_lock lock(m);
        changed.wait(lock, [&] { return stop || next >= w.Count || next < committed + window; });
        if (stop || next >= w.Count) return;
        if (w.Stopped && w.Stopped()) {
          changed.notify_all();  // the caller may be waiting for an item nobody will make
          return;
        }
        i = next++;
      }
      std::exception_ptr error;
      try {
        w.Work(i, id);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard lock(m);
      errors[i] = error;
      done[i] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  const auto finish = [&] {
    {
      std::lock_guard lock(m);
      stop = true;
    }
    changed.notify_all();
    for (std::thread& t : pool) t.join();
  };
  for (unsigned id = 0; id < threads; ++id) pool.emplace_back(worker, id);

  try {
    for (size_t i = 0; i < w.Count; ++i) {
      {
        std::unique_lock lock(m);
        // A pool that stopped taking items (Stopped) leaves later items undone: stop waiting then.
        changed.wait(lock, [&] { return done[i] || (next <= i && w.Stopped && w.Stopped()); });
        if (!done[i]) break;
      }
      if (errors[i]) std::rethrow_exception(errors[i]);
      if (!w.Commit(i)) break;
      {
        std::lock_guard lock(m);
        committed = i + 1;
      }
      changed.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}
