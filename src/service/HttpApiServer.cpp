#include "service/HttpApiServer.h"

#include <utility>  // before Asio: its coroutine header needs std::exchange under C++20

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <typeinfo>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/Inet.h"
#include "service/HttpApiWire.h"
#include "service/Metrics.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// Error codes of AddUrl besides the socket's own (positive) error values.
constexpr int kErrorInvalidParameter = -1;
constexpr int kErrorNotSupported = -2;
constexpr int kErrorAlreadyExists = -3;

// One token bucket for all connections. A sender reserves a chunk and waits until the bucket has
// paid for the chunks reserved before it; the chunk itself is paid while it is on its way.
class TBandwidthBucket {
 public:
  void SetRate(uint32_t bytesPerSecond) {
    if (bytesPerSecond > 0 && bytesPerSecond < 1024) bytesPerSecond = 1024;
    std::lock_guard<std::mutex> hold(FLock);
    FRate.store(bytesPerSecond);
    FNext = Clock::now();  // no debt carried over from the old rate
  }
  uint32_t Rate() const { return FRate.load(); }

  struct TGrant {
    std::size_t Bytes;
    Clock::duration Wait;
  };
  // Reserves up to `wanted` bytes; without a cap all of them at once and no wait.
  TGrant Reserve(std::size_t wanted) {
    if (FRate.load(std::memory_order_relaxed) == 0) return {wanted, {}};
    std::lock_guard<std::mutex> hold(FLock);
    const uint64_t rate = FRate.load();
    if (rate == 0) return {wanted, {}};
    const std::size_t chunk = std::min<std::size_t>(wanted, std::clamp<uint64_t>(rate / 16, 1024, 64 * 1024));
    const auto now = Clock::now();
    const auto start = std::max(FNext, now);
    FNext = start + std::chrono::nanoseconds(chunk * 1000000000ull / rate);
    return {chunk, start - now};
  }

 private:
  std::mutex FLock;
  std::atomic<uint32_t> FRate{0};
  Clock::time_point FNext{};
};

struct TCoding {
  THttpSocketCompress Coder;
  std::size_t MinSize;
};

struct TRoute {
  uint16_t Port;
  std::string Root;  // "/name/"
};

// What the configuration calls change while serving; requests read a snapshot of it.
struct TConfig {
  TOnHttpServerRequest OnRequest;
  TOnHttpServerRequest OnRequestInline;
  std::vector<TCoding> Codings;
  std::string CodingNames;  // joined with ","
  std::vector<TRoute> Routes;
};

std::string RemoteAddressText(const tcp::socket& socket) {
  beast::error_code ec;
  auto ep = socket.remote_endpoint(ec);
  if (ec) return {};
  auto addr = ep.address();
  if (addr.is_v6() && addr.to_v6().is_v4_mapped())
    return net::ip::make_address_v4(net::ip::v4_mapped, addr.to_v6()).to_string();
  return addr.to_string();
}

std::string ExceptionKind(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                              std::free);
  return (status == 0 && name) ? std::string(name.get()) : std::string(type.name());
}

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + unsigned(c - '0');
  }
  if (value > 65535) return false;
  port = uint16_t(value);
  return true;
}

}  // namespace

namespace {

// The workers: one queue of waiting requests that any idle worker takes.
class TWorkerPool {
 public:
  using TJob = std::function<void()>;
  ~TWorkerPool() { Stop(); }
  void Add(int count) {
    for (int i = 0; i < count; ++i) FThreads.emplace_back([this] { Run(); });
  }
  int Count() const { return int(FThreads.size()); }
  void Post(TJob job) {
    {
      std::lock_guard<std::mutex> hold(FLock);
      FJobs.push_back(std::move(job));
    }
    FWake.notify_one();
  }
  // Lets running jobs finish, joins the threads and drops the jobs that still wait.
  void Stop() {
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

 private:
  void Run() {
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

  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<TJob> FJobs;
  bool FStopping = false;
  std::vector<std::thread> FThreads;
};

class THttpSession;

// The event loop: one reactor run by a thread per core, and the connections it serves. A
// connection has one step pending at any time (a read, a write, a wait, or its answer with a
// worker), so its steps run in order on whichever loop thread is free, and a loop thread the
// system holds back (a busy machine) stalls one connection, not a share of them (a loop per core
// owning its connections stalled all of them then, a tail of several milliseconds).
// The connection list is read by the sweep and by the acceptor at the connection cap.
struct TEventLoop {
  TEventLoop() : Io(std::make_unique<net::io_context>(ThreadCountForThisMachine())) {}
  static int ThreadCountForThisMachine() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, 16u)); }
  std::mutex SessionsLock;
  std::list<THttpSession*> Sessions;
  std::unique_ptr<net::io_context> Io;
  std::unique_ptr<net::steady_timer> Sweep = std::make_unique<net::steady_timer>(*Io);
  std::optional<net::executor_work_guard<net::io_context::executor_type>> Work{net::make_work_guard(*Io)};
  std::vector<std::thread> Threads;
};

}  // namespace

struct THttpApiServer::TCore {
  explicit TCore(const THttpServerLimits& limits) : Limits(limits) {}

  const THttpServerLimits Limits;
  TEventLoop Loop;  // its threads also accept
  TWorkerPool Pool;
  TBandwidthBucket Bucket;
  std::atomic<bool> Stopping{false};
  std::atomic<std::size_t> Connections{0};

  mutable std::mutex ConfigLock;
  std::shared_ptr<const TConfig> Config = std::make_shared<TConfig>();
  std::atomic<uint64_t> ConfigVersion{0};

  std::shared_ptr<const TConfig> Snapshot() const {
    std::lock_guard<std::mutex> hold(ConfigLock);
    return Config;
  }
  // Keeps `held` current; takes the lock only when the configuration changed since.
  void Refresh(std::shared_ptr<const TConfig>& held, uint64_t& version) const {
    if (held && version == ConfigVersion.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> hold(ConfigLock);
    held = Config;
    version = ConfigVersion.load(std::memory_order_relaxed);
  }
  template <class F>
  void Change(F change) {
    std::lock_guard<std::mutex> hold(ConfigLock);
    auto next = std::make_shared<TConfig>(*Config);
    change(*next);
    Config = std::move(next);
    ConfigVersion.fetch_add(1, std::memory_order_release);
  }

  // Owned by the server object; guarded by Lock.
  struct TListener {
    explicit TListener(net::io_context& io) : Acceptor(io), Retry(io) {}
    tcp::acceptor Acceptor;
    net::steady_timer Retry;
    uint16_t Port = 0;
  };
  mutable std::mutex Lock;
  std::vector<std::unique_ptr<TListener>> Listeners;
  std::vector<std::string> Urls;
  uint16_t LastPort = 0;
  bool Cloned = false;

  // How often the loop looks for connections past their time limit.
  Clock::duration SweepInterval() const {
    auto shortest = std::min({Limits.HeaderTimeout, Limits.IdleTimeout, Limits.SendTimeout});
    return std::clamp<Clock::duration>(shortest / 4, std::chrono::milliseconds(5), std::chrono::seconds(1));
  }
};

namespace {

using TCore = THttpApiServer::TCore;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}
constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();
constexpr int64_t kEvicted = -1;

uint32_t CallHandler(const TOnHttpServerRequest& handler, THttpServerRequest& ctxt) {
  try {
    return handler(ctxt);
  } catch (const std::exception& e) {
    ctxt.OutBody.reset();
    ctxt.OutContent = InternalErrorPage(ExceptionKind(typeid(e)), e.what());
    ctxt.OutContentType = "text/html; charset=utf-8";
  } catch (...) {
    ctxt.OutBody.reset();
    ctxt.OutContent = InternalErrorPage("unknown error", "");
    ctxt.OutContentType = "text/html; charset=utf-8";
  }
  return 500;
}

// One connection: reads a request, has it answered, sends the answer and goes on while the client
// keeps the connection. Every step runs on the connection's event loop, except the callback of a
// request that waits for a worker; the connection does nothing else until the worker is done.
// Time limits are deadlines that the loop's sweep enforces by aborting the connection.
class THttpSession : public std::enable_shared_from_this<THttpSession> {
 public:
  THttpSession(tcp::socket socket, std::shared_ptr<TCore> core, TEventLoop& loop, uint16_t localPort)
      : FSocket(std::move(socket)), FCore(std::move(core)), FLoop(loop), FPort(localPort) {
    FRemoteIP = RemoteAddressText(FSocket);
  }
  ~THttpSession() {
    if (FRegistered) {
      std::lock_guard<std::mutex> hold(FLoop.SessionsLock);
      FLoop.Sessions.erase(FEntry);
    }
    FCore->Connections.fetch_sub(1);
  }

  void Start() {
    {
      std::lock_guard<std::mutex> hold(FLoop.SessionsLock);
      FEntry = FLoop.Sessions.insert(FLoop.Sessions.end(), this);
      FRegistered = true;
    }
    ReadRequest();
  }

  // Any thread.
  bool Expired(int64_t now) const { return FDeadline.load(std::memory_order_relaxed) <= now; }
  // Any thread: the clock reading when this connection began to wait between requests, or 0 when
  // it does not.
  int64_t IdleSince() const { return FIdleSince.load(std::memory_order_relaxed); }
  // Claims an idle connection for closing; false when it stopped being idle meanwhile.
  bool ClaimIdle(int64_t since) { return FIdleSince.compare_exchange_strong(since, kEvicted); }

  void Close() {
    beast::error_code ec;
    if (FTimer) FTimer->cancel();
    std::lock_guard<std::mutex> hold(FCloseLock);
    FClosed = true;
    FSocket.close(ec);
  }
  // Any thread. The connection's one pending step then fails and closes it on its own thread;
  // only the owner closes the descriptor, so its number cannot be reused under us.
  void Abort() {
    std::lock_guard<std::mutex> hold(FCloseLock);
    if (!FClosed) ShutdownSocket(static_cast<uintptr_t>(FSocket.native_handle()));
  }
  // Any thread: aborts the connection unless it moved on (a new limit) meanwhile.
  void AbortIfExpired(int64_t now) {
    if (Expired(now)) Abort();
  }

 private:
  void WaitForRequest() {
    if (FBuffer.size() > 0) return ReadRequest();  // the next request already arrived behind the last one
    if (FBuffer.capacity() > 16 * 1024) FBuffer.shrink_to_fit();  // idle connections keep little
    FDeadline.store(NowMs() + FCore->Limits.IdleTimeout.count(), std::memory_order_relaxed);
    FIdleSince.store(std::max<int64_t>(Clock::now().time_since_epoch().count(), 1));
    FSocket.async_read_some(FBuffer.prepare(2048), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
      if (self->FIdleSince.exchange(0) == kEvicted || ec) return self->Close();
      self->FBuffer.commit(n);
      self->ReadRequest();
    });
  }

  void ReadRequest() {
    FDeadline.store(NowMs() + FCore->Limits.HeaderTimeout.count(), std::memory_order_relaxed);
    FParser.emplace();
    LimitRequestParser(*FParser, FCore->Limits);
    // A request that arrived whole (the usual case) is parsed here: a read step would only hand
    // the same bytes to another turn of the loop, often on the other loop thread.
    beast::error_code ec;
    while (!FParser->is_done() && FBuffer.size() > 0) {
      const std::size_t used = FParser->put(FBuffer.data(), ec);
      FBuffer.consume(used);
      if (ec || used == 0) break;
    }
    if (FParser->is_done() || (ec && ec != http::error::need_more)) return OnRead(ec);
    http::async_read(FSocket, FBuffer, *FParser,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
  }

  void OnRead(beast::error_code ec) {
    if (FCore->Limits.CountResponses) FArrived = Clock::now();
    if (ec) {
      if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
          ec != http::error::end_of_stream && ec != http::error::partial_message) {
        FCtxt.OutBody.reset();
        FCtxt.OutContent.clear();
        FCtxt.OutContentType.clear();
        FAcceptEncoding.clear();
        FIfNoneMatch.clear();
        FCore->Refresh(FConfig, FConfigVersion);
        Prepare(StatusForParseError(ec), true);
        return Send();
      }
      return Close();  // gone, stalled or timed out: nobody to answer
    }
    FDeadline.store(kNoDeadline, std::memory_order_relaxed);  // the answer's own steps set the next limit
    auto& req = FParser->get();
    FillRequestContext(req, FRemoteIP, FCtxt);
    FSkipBody = req.method() == http::verb::head;
    const bool keepAlive = FParser->keep_alive();
    FKeepAlive10 = keepAlive && req.version() == 10;
    JoinField(req, http::field::accept_encoding, FAcceptEncoding);
    JoinField(req, http::field::if_none_match, FIfNoneMatch);
    FParser.reset();

    FCore->Refresh(FConfig, FConfigVersion);
    if (!FConfig->OnRequest || FCore->Stopping.load() || !Routed(*FConfig, FCtxt.URL)) {
      Prepare(404, !keepAlive);
      return Send();
    }
    if (FConfig->OnRequestInline) {
      const uint32_t status = CallHandler(FConfig->OnRequestInline, FCtxt);
      if (status != kHttpNeedsWorker) {
        Prepare(status, !keepAlive);
        return Send();
      }
      FCtxt.OutBody.reset();
      FCtxt.OutContent.clear();
      FCtxt.OutContentType.clear();
    }
    // The worker makes the whole answer, coding included; the loop only sends it.
    FCore->Pool.Post([self = shared_from_this(), close = !keepAlive]() mutable {
      auto& s = *self;
      s.Prepare(s.FCore->Stopping.load() ? 404 : CallHandler(s.FConfig->OnRequest, s.FCtxt), close);
      auto executor = s.FSocket.get_executor();
      net::post(executor, [self = std::move(self)] { self->Send(); });
    });
  }

  // The values of every `field` line of `req`, joined with ",".
  static void JoinField(const http::request<http::string_body>& req, http::field field, std::string& out) {
    out.clear();
    for (auto it = req.find(field); it != req.end() && it->name() == field; ++it) {
      if (!out.empty()) out += ',';
      out.append(it->value().data(), it->value().size());
    }
  }

  bool Routed(const TConfig& config, std::string_view target) const {
    for (const auto& route : config.Routes)
      if (route.Port == FPort && TargetUnderRoot(target, route.Root)) return true;
    return false;
  }

  // Takes the answer out of the request context: the status line and headers, and the body
  // (shared, or the context's own text), coded when the client and the body allow.
  void Prepare(uint32_t status, bool close) {
    if (status < 100 || status > 999) {  // 0 and others that make no status line: a bare 400
      status = 400;
      FCtxt.OutBody.reset();
      FCtxt.OutContent.clear();
      FCtxt.OutContentType.clear();
    }
    TResponseHead head;
    head.Status = status;
    head.ContentType = FCtxt.OutContentType;
    head.AcceptEncodingNames = FConfig->CodingNames;
    head.HasBody = status >= 200 && status != 204 && status != 304;
    head.Close = close || status < 200;
    head.KeepAlive10 = FKeepAlive10 && !head.Close;
    FBodyRef = std::move(FCtxt.OutBody);
    FOwnBody.swap(FCtxt.OutContent);
    FCtxt.OutContent.clear();
    FBody = FBodyRef ? FBodyRef->Plain() : std::string_view(FOwnBody);
    if (!head.HasBody) FBody = {};
    const std::string_view plain = FBody;
    if (!FBody.empty() && !head.ContentType.empty() && IsCompressibleType(head.ContentType)) {
      for (const auto& coding : FConfig->Codings) {
        if (FBody.size() < coding.MinSize) continue;
        head.VaryAcceptEncoding = true;  // the answer depends on what the client accepts
        if (AcceptEncodingLists(FAcceptEncoding, coding.Coder.Name)) {
          if (FBodyRef) {
            FBody = FBodyRef->Coded(coding.Coder, FScratch);
          } else {
            FScratch = coding.Coder.Encode(FBody);
            FBody = FScratch;
          }
          head.ContentEncoding = coding.Coder.Name;
          break;
        }
      }
    }
    if (status == 200 && !plain.empty()) {
      // A strong tag from the bytes; a client that holds them gets 304 and no body.
      FTag = FBodyRef ? FBodyRef->Tag() : EntityTag(plain);
      if (!head.ContentEncoding.empty()) FTag = CodedEntityTag(FTag, head.ContentEncoding);
      head.ETag = FTag;
      head.MaxAge = FCore->Limits.CacheMaxAge;
      if (!FIfNoneMatch.empty() && IfNoneMatchLists(FIfNoneMatch, FTag)) {
        head.Status = 304;
        head.HasBody = false;
        head.ContentEncoding = {};
        FBody = {};
      }
    }
    head.ContentLength = FBody.size();
    FHead = BuildResponseHead(head);
    if (FSkipBody) FBody = {};
    FRawSize = FBody.empty() ? 0 : plain.size();
    FSkipBody = false;
    FClose = head.Close;
    FSent = 0;
    FPaid = 0;
  }

  std::size_t Total() const { return FHead.size() + FBody.size(); }

  void Send() {
    const std::size_t remaining = Total() - FSent;
    if (remaining == 0) return OnSent();
    if (FPaid == 0) {
      auto grant = FCore->Bucket.Reserve(remaining);
      FPaid = grant.Bytes;
      if (grant.Wait > Clock::duration::zero()) {
        if (!FTimer) FTimer.emplace(FSocket.get_executor());
        FDeadline.store(kNoDeadline, std::memory_order_relaxed);  // waiting for the cap is no stall of the client
        FTimer->expires_after(grant.Wait);
        FTimer->async_wait([self = shared_from_this()](beast::error_code ec) {
          if (ec) return self->Close();
          self->SendSome();
        });
        return;
      }
    }
    SendSome();
  }

  // Writes what the kernel takes of the paid bytes; a client that takes nothing for the send
  // timeout is dropped.
  void SendSome() {
    std::array<net::const_buffer, 2> parts{};
    std::size_t count = 0, pos = FSent, left = FPaid;
    auto add = [&](std::string_view s) {
      if (left == 0 || pos >= s.size()) {
        pos -= std::min(pos, s.size());
        return;
      }
      std::size_t n = std::min(left, s.size() - pos);
      parts[count++] = net::buffer(s.data() + pos, n);
      left -= n;
      pos = 0;
    };
    add(FHead);
    add(FBody);
    FDeadline.store(NowMs() + FCore->Limits.SendTimeout.count(), std::memory_order_relaxed);
    FSocket.async_write_some(parts,  // by value: the operation keeps its own copy
                             [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                               self->OnWritten(ec, n);
                             });
  }

  void OnWritten(beast::error_code ec, std::size_t n) {
    if (ec) return Close();
    FSent += n;
    FPaid -= std::min(FPaid, n);
    Send();
  }

  void OnSent() {
    if (FCore->Limits.CountResponses)
      CountResponse(FRawSize, FBody.size(),
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - FArrived));
    FHead.clear();
    FBody = {};
    FBodyRef.reset();
    if (FOwnBody.capacity() > 64 * 1024) std::string().swap(FOwnBody);
    if (FScratch.capacity() > 64 * 1024) std::string().swap(FScratch);
    if (FClose) return Linger();
    WaitForRequest();
  }

  // After an answer that ends the connection: stop sending and read what the client still sends
  // for a moment, so that closing with unread input does not reset the answer away.
  void Linger() {
    beast::error_code ec;
    FSocket.shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return Close();
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FDeadline.store(NowMs() + std::min<int64_t>(FCore->Limits.HeaderTimeout.count(), 2000), std::memory_order_relaxed);
    Drain();
  }

  void Drain() {
    FSocket.async_read_some(FBuffer.prepare(4096), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
      self->FDrained += n;
      if (ec || self->FDrained > 256 * 1024) return self->Close();
      self->Drain();
    });
  }

  tcp::socket FSocket;
  std::optional<net::steady_timer> FTimer;  // made only for a capped send that must wait
  std::shared_ptr<TCore> FCore;
  TEventLoop& FLoop;
  std::list<THttpSession*>::iterator FEntry;
  bool FRegistered = false;
  const uint16_t FPort;
  std::atomic<int64_t> FDeadline{kNoDeadline};  // set by the connection's steps, read by the sweep
  std::mutex FCloseLock;  // the owner's close against another thread's abort
  bool FClosed = false;
  std::atomic<int64_t> FIdleSince{0};
  std::string FRemoteIP;
  beast::flat_buffer FBuffer;
  std::optional<THttpRequestParser> FParser;
  THttpServerRequest FCtxt;
  std::string FAcceptEncoding, FIfNoneMatch, FTag;
  std::shared_ptr<const TConfig> FConfig;
  uint64_t FConfigVersion = 0;
  std::string FHead, FOwnBody, FScratch;
  THttpBodyRef FBodyRef;
  std::string_view FBody;
  std::size_t FSent = 0, FPaid = 0, FDrained = 0;
  std::size_t FRawSize = 0;    // the answer's body before coding; 0 when no body goes out
  Clock::time_point FArrived;  // when the request was read (counted responses only)
  bool FClose = false, FKeepAlive10 = false, FSkipBody = false;
};

// Aborts the connections of `loop` that passed their time limit, then comes back after the interval.
void Sweep(const std::shared_ptr<TCore>& core, TEventLoop& loop) {
  std::vector<std::shared_ptr<THttpSession>> expired;
  const int64_t now = NowMs();
  {
    std::lock_guard<std::mutex> hold(loop.SessionsLock);
    for (THttpSession* s : loop.Sessions)
      if (s->Expired(now))
        if (auto held = s->weak_from_this().lock()) expired.push_back(std::move(held));
  }
  for (auto& s : expired) s->AbortIfExpired(now);
  loop.Sweep->expires_after(core->SweepInterval());
  loop.Sweep->async_wait([core, &loop](beast::error_code ec) {
    if (!ec) Sweep(core, loop);
  });
}

// At the connection cap: closes the connection that has waited longest between requests. False
// when no connection waits.
bool CloseLongestIdle(TCore& core) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::shared_ptr<THttpSession> oldest;
    int64_t since = std::numeric_limits<int64_t>::max();
    {
      std::lock_guard<std::mutex> hold(core.Loop.SessionsLock);
      for (THttpSession* s : core.Loop.Sessions) {
        const int64_t t = s->IdleSince();
        if (t > 0 && t < since) {
          if (auto held = s->weak_from_this().lock()) {
            oldest = std::move(held);
            since = t;
          }
        }
      }
    }
    if (!oldest) return false;
    if (oldest->ClaimIdle(since)) {
      oldest->Abort();
      return true;
    }
  }
  return false;
}

}  // namespace

namespace {

void Accept(const std::shared_ptr<TCore>& core, TCore::TListener* listener) {
  TEventLoop& loop = core->Loop;
  listener->Acceptor.async_accept(
      *loop.Io, [core, listener, &loop](beast::error_code ec, tcp::socket socket) {
        if (core->Stopping.load()) return;
        if (ec) {
          if (ec == net::error::operation_aborted) return;
          // Out of descriptors or memory: pause instead of spinning on the failing accept.
          listener->Retry.expires_after(std::chrono::milliseconds(50));
          listener->Retry.async_wait([core, listener](beast::error_code ec2) {
            if (!ec2) Accept(core, listener);
          });
          return;
        }
        if (core->Connections.fetch_add(1) >= core->Limits.MaxConnections && !CloseLongestIdle(*core)) {
          core->Connections.fetch_sub(1);
          socket.close(ec);
        } else {
          socket.set_option(tcp::no_delay(true), ec);
          auto owner = socket.get_executor();
          net::post(owner, [session = std::make_shared<THttpSession>(std::move(socket), core, loop, listener->Port)] {
            session->Start();
          });
        }
        Accept(core, listener);
      });
}

// Binds the port on `address`, or on every interface (IPv6 with IPv4 mapped, else IPv4 alone).
beast::error_code Listen(tcp::acceptor& acceptor, const std::optional<net::ip::address>& address,
                         uint16_t port) {
  beast::error_code ec, ignored;
  auto bind = [&](const tcp::endpoint& ep) {
    acceptor.open(ep.protocol(), ec);
    if (!ec && ep.address().is_v6() && !address) acceptor.set_option(net::ip::v6_only(false), ec);
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(ep, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) acceptor.close(ignored);
  };
  if (address) {
    bind(tcp::endpoint(*address, port));
    return ec;
  }
  bind(tcp::endpoint(net::ip::address_v6::any(), port));
  if (ec == net::error::address_family_not_supported || ec == boost::system::errc::address_not_available ||
      ec == net::error::no_protocol_option) {
    ec.clear();
    bind(tcp::endpoint(net::ip::address_v4::any(), port));
  }
  return ec;
}

void RunLoop(net::io_context& io) {
  for (;;) {
    try {
      io.run();
      return;
    } catch (...) {
      // A failure inside one connection's step drops that connection only.
    }
  }
}

}  // namespace

THttpApiServer::THttpApiServer(THttpServerLimits limits) : FCore(std::make_shared<TCore>(limits)) {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  TEventLoop& loop = FCore->Loop;
  Sweep(FCore, loop);
  for (int i = TEventLoop::ThreadCountForThisMachine(); i > 0; --i) loop.Threads.emplace_back(RunLoop, std::ref(*loop.Io));
  FCore->Pool.Add(1);
}

THttpApiServer::~THttpApiServer() {
  FCore->Stopping.store(true);
  {
    std::lock_guard<std::mutex> hold(FCore->Lock);
    FCore->Loop.Work.reset();
    FCore->Loop.Io->stop();
  }
  for (auto& thread : FCore->Loop.Threads) thread.join();
  // Running handlers finish; their answers land in stopped loops and are dropped with them.
  FCore->Pool.Stop();
  FCore->Listeners.clear();
  // Destroying the loop destroys its pending steps and with them its connections.
  FCore->Loop.Sweep.reset();
  FCore->Loop.Io.reset();
}
void THttpApiServer::SetMaxBandwidth(uint32_t Value) { FCore->Bucket.SetRate(Value); }

uint32_t THttpApiServer::MaxBandwidth() const { return FCore->Bucket.Rate(); }

// aRegisterURI and aContext belong to the specified call; this front end needs neither.
int THttpApiServer::AddUrl(const std::string& aRoot, const std::string& aPort, bool Https,
                           const std::string& aDomainName, [[maybe_unused]] bool aRegisterURI,
                           [[maybe_unused]] uint64_t aContext) {
  if (Https) return kErrorNotSupported;
  const std::string host(TrimBlanks(aDomainName));
  std::string root(TrimBlanks(aRoot));
  const std::string portText = aPort.empty() ? std::string("80") : aPort;
  uint16_t port = 0;
  if (host.empty() || !ParsePort(portText, port)) return kErrorInvalidParameter;
  // "/" takes every path of the port (the metrics listener); an empty root stays "//".
  if (root != "/") {
    if (root.empty() || root.front() != '/') root.insert(root.begin(), '/');
    if (root.size() == 1 || root.back() != '/') root += '/';
  }
  std::optional<net::ip::address> address;
  if (host != "+" && host != "*") {
    beast::error_code ec;
    auto parsed = net::ip::make_address(host, ec);
    if (!ec) address = parsed;  // a host name binds every interface, as "+" does
  }

  std::lock_guard<std::mutex> hold(FCore->Lock);
  if (FCore->Stopping.load()) return kErrorNotSupported;
  TCore::TListener* listener = nullptr;
  if (port != 0) {
    for (auto& l : FCore->Listeners)
      if (l->Port == port) listener = l.get();
    if (listener) {
      auto config = FCore->Snapshot();
      for (const auto& route : config->Routes)
        if (route.Port == port && SameTextAscii(route.Root, root))
          return kErrorAlreadyExists;
    }
  }
  if (!listener) {
    auto fresh = std::make_unique<TCore::TListener>(*FCore->Loop.Io);
    if (auto ec = Listen(fresh->Acceptor, address, port)) return ec.value() ? ec.value() : kErrorInvalidParameter;
    fresh->Port = fresh->Acceptor.local_endpoint().port();
    listener = fresh.get();
    FCore->Listeners.push_back(std::move(fresh));
    Accept(FCore, listener);
  }
  FCore->Change([&](TConfig& c) { c.Routes.push_back({listener->Port, root}); });
  FCore->Urls.push_back("http://" + host + ":" + (port == 0 ? std::to_string(listener->Port) : portText) + root);
  FCore->LastPort = listener->Port;
  return 0;
}

void THttpApiServer::RegisterCompress(const THttpSocketCompress& aFunction, std::size_t aCompressMinSize) {
  FCore->Change([&](TConfig& c) {
    for (auto& coding : c.Codings) {
      if (coding.Coder.Name == aFunction.Name) {
        coding.MinSize = aCompressMinSize;
        return;
      }
    }
    if (c.Codings.size() >= kMaxCodings) return;
    c.Codings.push_back({aFunction, aCompressMinSize});
    if (!c.CodingNames.empty()) c.CodingNames += ',';
    c.CodingNames += aFunction.Name;
  });
}

void THttpApiServer::SetOnRequest(TOnHttpServerRequest aRequest) {
  FCore->Change([&](TConfig& c) { c.OnRequest = std::move(aRequest); });
}

void THttpApiServer::SetOnRequestInline(TOnHttpServerRequest aRequest) {
  FCore->Change([&](TConfig& c) { c.OnRequestInline = std::move(aRequest); });
}

void THttpApiServer::Clone(int ChildThreadCount) {
  if (ChildThreadCount <= 0 || !FCore->Snapshot()->OnRequest) return;
  std::lock_guard<std::mutex> hold(FCore->Lock);
  if (FCore->Cloned || FCore->Stopping.load()) return;
  FCore->Cloned = true;
  FCore->Pool.Add(std::min(ChildThreadCount, kMaxWorkers - 1));
}

std::string THttpApiServer::GetRegisteredUrl() const {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  std::string joined;
  for (const auto& url : FCore->Urls) {
    if (!joined.empty()) joined += ',';
    joined += url;
  }
  return joined;
}

uint16_t THttpApiServer::BoundPort() const {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  return FCore->LastPort;
}

int THttpApiServer::EventLoopCount() const { return int(FCore->Loop.Threads.size()); }

int THttpApiServer::WorkerCount() const {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  return FCore->Pool.Count();
}

std::size_t THttpApiServer::OpenConnections() const { return FCore->Connections.load(); }

std::string AddUrlErrorText(int code) {
  switch (code) {
    case 0: return "no error";
    case kErrorInvalidParameter: return "invalid address or port";
    case kErrorNotSupported: return "not supported";
    case kErrorAlreadyExists: return "address already registered";
    default: return std::system_category().message(code);
  }
}
