#include "http/EventLoop.h"

#include "http/HttpSession.h"
#include "platform/Clock.h"

void RunLoop(boost::asio::io_context& io) {
  for (;;) {
    try {
      io.run();
      return;
    } catch (...) {
      // A failure inside one connection's step drops that connection only.
    }
  }
}

void SweepExpired(TEventLoop& loop, std::chrono::steady_clock::duration interval) {
  std::vector<std::shared_ptr<THttpSession>> expired;
  const int64_t now = int64_t(GetTickCount64());
  {
    std::lock_guard<std::mutex> hold(loop.SessionsLock);
    for (THttpSession* s : loop.Sessions)
      if (s->Expired(now))
        if (auto held = s->weak_from_this().lock()) expired.push_back(std::move(held));
  }
  for (auto& s : expired) s->AbortIfExpired(now);
  loop.Sweep->expires_after(interval);
  loop.Sweep->async_wait([&loop, interval](boost::system::error_code ec) {
    if (!ec) SweepExpired(loop, interval);
  });
}
