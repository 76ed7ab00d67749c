// The event loop of a front end: one reactor run by a thread per core, and the connections it
// serves. A connection has one step pending at any time (a read, a write, a wait, or its answer with
// a worker), so its steps run in order on whichever loop thread is free, and a loop thread the
// system holds back (a busy machine) stalls one connection, not a share of them (a loop per core
// owning its connections stalled all of them then, a tail of several milliseconds).
#pragma once

#include <utility>  // before Asio: its coroutine header needs std::exchange under C++20

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class THttpSession;

// The connection list is read by the sweep and by the acceptor at the connection cap.
struct TEventLoop {
  TEventLoop() : Io(std::make_unique<boost::asio::io_context>(ThreadCountForThisMachine())) {}
  static int ThreadCountForThisMachine() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, 16u)); }
  std::mutex SessionsLock;
  std::list<THttpSession*> Sessions;
  std::unique_ptr<boost::asio::io_context> Io;
  std::unique_ptr<boost::asio::steady_timer> Sweep = std::make_unique<boost::asio::steady_timer>(*Io);
  // Runs the bandwidth cap's dispatch while capped senders wait.
  std::unique_ptr<boost::asio::steady_timer> Pacer = std::make_unique<boost::asio::steady_timer>(*Io);
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> Work{
      boost::asio::make_work_guard(*Io)};
  std::vector<std::thread> Threads;
};

// Runs `io` on the calling thread until it stops; a step that raises drops its connection only.
void RunLoop(boost::asio::io_context& io);
// Aborts the connections of `loop` that passed their time limit, then comes back after `interval`.
void SweepExpired(TEventLoop& loop, std::chrono::steady_clock::duration interval);
