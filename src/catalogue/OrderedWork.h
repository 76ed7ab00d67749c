// Runs the items of a list on a small pool of threads and hands their results back in list order,
// so a load pass can use every core while its log lines come out as a single thread would write
// them. Called by the loader thread; the pool lives only for one call.
#pragma once

#include <cstddef>
#include <functional>

struct TOrderedWork {
  size_t Count = 0;          // items 0 .. Count-1
  unsigned Threads = 0;      // pool size; 0: one per core
  size_t Window = 0;         // items done ahead of the one committed; 0: four per thread
  // Makes item `i` on pool thread number `worker` (< the pool size). May throw.
  std::function<void(size_t i, unsigned worker)> Work;
  // Takes item `i` on the calling thread, in order; false stops the run.
  std::function<bool(size_t i)> Commit;
  // Asked before a pool thread starts another item; true: start no more.
  std::function<bool()> Stopped;
};

// The pool size RunOrderedWork uses for `threads`.
unsigned OrderedWorkThreads(unsigned threads);
// Returns when every item was committed or the run stopped early; an exception thrown by Work(i)
// is rethrown here when item i's turn comes, after the items before it were committed. Items made
// but not committed are left to the caller to drop.
void RunOrderedWork(const TOrderedWork& w);
