// One connection of a front end: reads a request, has it answered, sends the answer and goes on
// while the client keeps the connection. Every step runs on the event loop, except the callback of
// a request that waits for a worker; the connection does nothing else until the worker is done.
// Time limits are deadlines that the loop's sweep enforces by aborting the connection.
#pragma once

#include <utility>  // before Asio: its coroutine header needs std::exchange under C++20

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "http/EventLoop.h"
#include "http/HttpApiServer.h"
#include "http/HttpApiWire.h"

struct THttpConfig;

class THttpSession : public std::enable_shared_from_this<THttpSession> {
 public:
  THttpSession(boost::asio::ip::tcp::socket socket, std::shared_ptr<THttpApiServer::TCore> core, TEventLoop& loop,
               uint16_t localPort);
  ~THttpSession();

  void Start();

  // Any thread. `now` is a GetTickCount64 reading.
  bool Expired(int64_t now) const { return FDeadline.load(std::memory_order_relaxed) <= now; }
  // Any thread: the clock reading when this connection began to wait between requests, or 0 when
  // it does not.
  int64_t IdleSince() const { return FIdleSince.load(std::memory_order_relaxed); }
  // Claims an idle connection for closing; false when it stopped being idle meanwhile.
  bool ClaimIdle(int64_t since) { return FIdleSince.compare_exchange_strong(since, kEvicted); }
  // Any thread. The connection's one pending step then fails and closes it on its own thread;
  // only the owner closes the descriptor, so its number cannot be reused under us.
  void Abort();
  // Any thread: aborts the connection unless it moved on (a new limit) meanwhile.
  void AbortIfExpired(int64_t now) {
    if (Expired(now)) Abort();
  }

 private:
  static constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();
  static constexpr int64_t kEvicted = -1;

  void WaitForRequest();
  void ReadRequest();
  void OnRead(boost::system::error_code ec);
  bool Routed(const THttpConfig& config, std::string_view target) const;
  void Prepare(uint32_t status, bool close);
  std::size_t Total() const { return FHead.size() + FBody.size(); }
  void Send();
  void SendSome();
  void OnWritten(boost::system::error_code ec, std::size_t n);
  void OnSent();
  void Linger();
  void Drain();
  void Close();

  boost::asio::ip::tcp::socket FSocket;
  std::shared_ptr<THttpApiServer::TCore> FCore;
  TEventLoop& FLoop;
  std::list<THttpSession*>::iterator FEntry;
  bool FRegistered = false;
  const uint16_t FPort;
  std::atomic<int64_t> FDeadline{kNoDeadline};  // set by the connection's steps, read by the sweep
  std::mutex FCloseLock;  // the owner's close against another thread's abort
  bool FClosed = false;
  std::atomic<int64_t> FIdleSince{0};
  std::string FRemoteIP;
  boost::beast::flat_buffer FBuffer;
  std::optional<THttpRequestParser> FParser;
  THttpServerRequest FCtxt;
  std::string FAcceptEncoding, FIfNoneMatch, FTag;
  std::shared_ptr<const THttpConfig> FConfig;
  uint64_t FConfigVersion = 0;
  std::string FHead, FOwnBody, FScratch;
  THttpBodyRef FBodyRef;
  std::string_view FBody;
  std::size_t FSent = 0, FPaid = 0, FDrained = 0;
  uint32_t FStatus = 0;        // the answer's status as sent
  std::size_t FRawSize = 0;    // the answer's body before coding; 0 when no body goes out
  std::chrono::steady_clock::time_point FArrived;  // when the request was read
  bool FClose = false, FKeepAlive10 = false, FSkipBody = false;
};
