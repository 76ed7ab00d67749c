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
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <typeinfo>
#include <vector>

#include "platform/AsciiText.h"
#include "service/HttpApiWire.h"

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

struct THttpApiServer::TCore {
  explicit TCore(const THttpServerLimits& limits) : Limits(limits) {}

  const THttpServerLimits Limits;
  // One event loop per worker: a connection lives on one worker from accept to close, so its
  // steps need no strand and a request never wakes another thread. Contexts are created before
  // IoCount publishes them and live until the server is released. Load counts open connections.
  std::array<std::unique_ptr<net::io_context>, THttpApiServer::kMaxWorkers> Ios;
  std::array<std::atomic<int>, THttpApiServer::kMaxWorkers> Load{};
  std::atomic<int> IoCount{0};
  // Accepting has a loop and thread of its own, so a worker busy in the callback never holds up
  // new connections; this thread never runs a request.
  std::unique_ptr<net::io_context> AcceptIo = std::make_unique<net::io_context>(1);
  std::thread AcceptThread;
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
  std::vector<std::thread> Workers;
  std::vector<net::executor_work_guard<net::io_context::executor_type>> Work;
  bool Cloned = false;

  // Adds `count` workers, each with its own event loop. Call with Lock held.
  void AddWorkers(int count);
};

namespace {

using TCore = THttpApiServer::TCore;

// One connection: reads a request, answers it, and goes on while the client keeps the connection.
// Every step runs on the one worker thread whose event loop owns the socket.
class THttpSession : public std::enable_shared_from_this<THttpSession> {
 public:
  THttpSession(tcp::socket socket, std::shared_ptr<TCore> core, int worker, uint16_t localPort)
      : FStream(std::move(socket)), FTimer(FStream.get_executor()), FCore(std::move(core)), FWorker(worker),
        FPort(localPort) {
    FRemoteIP = RemoteAddressText(FStream.socket());
  }
  ~THttpSession() {
    FCore->Load[FWorker].fetch_sub(1);
    FCore->Connections.fetch_sub(1);
  }

  void Start() {
    FStream.expires_after(FCore->Limits.HeaderTimeout);
    ReadRequest();
  }

 private:
  void WaitForRequest() {
    if (FBuffer.size() > 0) {  // the next request already arrived behind the last one
      FStream.expires_after(FCore->Limits.HeaderTimeout);
      ReadRequest();
      return;
    }
    if (FBuffer.capacity() > 16 * 1024) FBuffer.shrink_to_fit();  // idle connections keep little
    FStream.expires_after(FCore->Limits.IdleTimeout);
    FStream.async_read_some(FBuffer.prepare(2048),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                              if (ec) return self->Close();
                              self->FBuffer.commit(n);
                              self->FStream.expires_after(self->FCore->Limits.HeaderTimeout);
                              self->ReadRequest();
                            });
  }

  void ReadRequest() {
    FParser.emplace();
    LimitRequestParser(*FParser, FCore->Limits);
    http::async_read(FStream, FBuffer, *FParser,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
  }

  void OnRead(beast::error_code ec) {
    if (ec) {
      if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
          ec != http::error::end_of_stream && ec != http::error::partial_message)
        return Answer(StatusForParseError(ec), {}, {}, true);
      return Close();  // gone, stalled or timed out: nobody to answer
    }
    auto& req = FParser->get();
    THttpServerRequest ctxt;
    FillRequestContext(req, FRemoteIP, ctxt);
    const bool head = req.method() == http::verb::head;
    const bool keepAlive = FParser->keep_alive();
    FKeepAlive10 = keepAlive && req.version() == 10;
    std::string acceptEncoding;
    for (auto it = req.find(http::field::accept_encoding); it != req.end() && it->name() == http::field::accept_encoding; ++it) {
      if (!acceptEncoding.empty()) acceptEncoding += ',';
      acceptEncoding.append(it->value().data(), it->value().size());
    }
    FParser.reset();

    FCore->Refresh(FConfig, FConfigVersion);
    const auto& config = FConfig;
    uint32_t status = 404;
    if (config->OnRequest && !FCore->Stopping.load() && Routed(*config, ctxt.URL)) {
      try {
        status = config->OnRequest(ctxt);
      } catch (const std::exception& e) {
        status = 500;
        ctxt.OutContent = InternalErrorPage(ExceptionKind(typeid(e)), e.what());
        ctxt.OutContentType = "text/html; charset=utf-8";
      } catch (...) {
        status = 500;
        ctxt.OutContent = InternalErrorPage("unknown error", "");
        ctxt.OutContentType = "text/html; charset=utf-8";
      }
      if (status < 100 || status > 999) {  // 0 and others that make no status line: a bare 400
        status = 400;
        ctxt.OutContent.clear();
        ctxt.OutContentType.clear();
      }
    }
    FSkipBody = head;
    Answer(status, std::move(ctxt.OutContent), std::move(ctxt.OutContentType), !keepAlive, acceptEncoding);
  }

  bool Routed(const TConfig& config, std::string_view target) const {
    for (const auto& route : config.Routes)
      if (route.Port == FPort && TargetUnderRoot(target, route.Root)) return true;
    return false;
  }

  void Answer(uint32_t status, std::string body, std::string contentType, bool close,
              std::string_view acceptEncoding = {}) {
    FCore->Refresh(FConfig, FConfigVersion);
    TResponseHead head;
    head.Status = status;
    head.ContentType = contentType;
    head.AcceptEncodingNames = FConfig->CodingNames;
    head.HasBody = status >= 200 && status != 204 && status != 304;
    head.Close = close || status < 200;
    head.KeepAlive10 = FKeepAlive10 && !head.Close;
    if (!head.HasBody) body.clear();
    if (!body.empty() && !contentType.empty() && IsCompressibleType(contentType)) {
      for (const auto& coding : FConfig->Codings) {
        if (body.size() >= coding.MinSize && AcceptEncodingLists(acceptEncoding, coding.Coder.Name)) {
          body = coding.Coder.Encode(body);
          head.ContentEncoding = coding.Coder.Name;
          break;
        }
      }
    }
    head.ContentLength = body.size();
    FHead = BuildResponseHead(head);
    FBody = std::move(body);
    if (FSkipBody) FBody.clear();
    FSkipBody = false;
    FClose = head.Close;
    FSent = 0;
    FPaid = 0;
    Send();
  }

  std::size_t Total() const { return FHead.size() + FBody.size(); }

  void Send() {
    const std::size_t remaining = Total() - FSent;
    if (remaining == 0) return OnSent();
    if (FPaid == 0) {
      auto grant = FCore->Bucket.Reserve(remaining);
      FPaid = grant.Bytes;
      if (grant.Wait > Clock::duration::zero()) {
        FTimer.expires_after(grant.Wait);
        FTimer.async_wait([self = shared_from_this()](beast::error_code ec) {
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
    auto add = [&](const std::string& s) {
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
    FStream.expires_after(FCore->Limits.SendTimeout);
    FStream.async_write_some(parts, [self = shared_from_this()](beast::error_code ec, std::size_t n) {
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
    FHead.clear();
    FBody = std::string();
    if (FClose) return Linger();
    WaitForRequest();
  }

  // After an answer that ends the connection: stop sending and read what the client still sends
  // for a moment, so that closing with unread input does not reset the answer away.
  void Linger() {
    beast::error_code ec;
    FStream.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return Close();
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FStream.expires_after(std::min<Clock::duration>(FCore->Limits.HeaderTimeout, std::chrono::seconds(2)));
    Drain();
  }

  void Drain() {
    FStream.async_read_some(FBuffer.prepare(4096), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
      self->FDrained += n;
      if (ec || self->FDrained > 256 * 1024) return self->Close();
      self->Drain();
    });
  }

  void Close() {
    beast::error_code ec;
    FTimer.cancel();
    FStream.socket().close(ec);
  }

  beast::tcp_stream FStream;
  net::steady_timer FTimer;
  std::shared_ptr<TCore> FCore;
  const int FWorker;
  const uint16_t FPort;
  std::string FRemoteIP;
  beast::flat_buffer FBuffer;
  std::optional<THttpRequestParser> FParser;
  std::shared_ptr<const TConfig> FConfig;
  uint64_t FConfigVersion = 0;
  std::string FHead, FBody;
  std::size_t FSent = 0, FPaid = 0, FDrained = 0;
  bool FClose = false, FKeepAlive10 = false, FSkipBody = false;
};

}  // namespace

namespace {

// The worker with the fewest connections; the scan starts after the last choice so that ties
// are spread.
int LeastLoadedWorker(TCore& core) {
  static thread_local unsigned start = 0;
  const int workers = core.IoCount.load(std::memory_order_acquire);
  int best = int(start++ % unsigned(workers));
  for (int i = 0; i < workers; ++i) {
    int k = int((start + unsigned(i)) % unsigned(workers));
    if (core.Load[k].load(std::memory_order_relaxed) < core.Load[best].load(std::memory_order_relaxed)) best = k;
  }
  return best;
}

void Accept(const std::shared_ptr<TCore>& core, TCore::TListener* listener) {
  const int worker = LeastLoadedWorker(*core);
  listener->Acceptor.async_accept(
      *core->Ios[worker], [core, listener, worker](beast::error_code ec, tcp::socket socket) {
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
        if (core->Connections.fetch_add(1) >= core->Limits.MaxConnections) {
          core->Connections.fetch_sub(1);
          socket.close(ec);
        } else {
          socket.set_option(tcp::no_delay(true), ec);
          core->Load[worker].fetch_add(1, std::memory_order_relaxed);
          auto owner = socket.get_executor();
          net::post(owner, [session = std::make_shared<THttpSession>(std::move(socket), core, worker, listener->Port)] {
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

void RunWorker(net::io_context& io) {
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

void TCore::AddWorkers(int count) {
  const int first = IoCount.load();
  for (int i = first; i < first + count; ++i) {
    Ios[i] = std::make_unique<net::io_context>(1);
    Work.push_back(net::make_work_guard(*Ios[i]));
  }
  IoCount.store(first + count, std::memory_order_release);
  for (int i = first; i < first + count; ++i) Workers.emplace_back(RunWorker, std::ref(*Ios[i]));
}

THttpApiServer::THttpApiServer(THttpServerLimits limits) : FCore(std::make_shared<TCore>(limits)) {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  FCore->AddWorkers(1);
  FCore->Work.push_back(net::make_work_guard(*FCore->AcceptIo));
  FCore->AcceptThread = std::thread(RunWorker, std::ref(*FCore->AcceptIo));
}

THttpApiServer::~THttpApiServer() {
  FCore->Stopping.store(true);
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> hold(FCore->Lock);
    workers.swap(FCore->Workers);
    FCore->Work.clear();
    FCore->AcceptIo->stop();
    for (int i = 0; i < FCore->IoCount.load(); ++i) FCore->Ios[i]->stop();
  }
  FCore->AcceptThread.join();
  for (auto& worker : workers) worker.join();
  FCore->Listeners.clear();
  // Destroying a loop destroys its pending steps and with them its connections. The accepting
  // loop goes first: its pending accepts hold sockets of the workers' loops.
  FCore->AcceptIo.reset();
  for (int i = 0; i < FCore->IoCount.load(); ++i) FCore->Ios[i].reset();
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
  if (root.empty() || root.front() != '/') root.insert(root.begin(), '/');
  if (root.size() == 1 || root.back() != '/') root += '/';
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
    auto fresh = std::make_unique<TCore::TListener>(*FCore->AcceptIo);
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

void THttpApiServer::Clone(int ChildThreadCount) {
  if (ChildThreadCount <= 0 || !FCore->Snapshot()->OnRequest) return;
  std::lock_guard<std::mutex> hold(FCore->Lock);
  if (FCore->Cloned || FCore->Stopping.load()) return;
  FCore->Cloned = true;
  FCore->AddWorkers(std::min(ChildThreadCount, kMaxWorkers - 1));
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

int THttpApiServer::WorkerCount() const {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  return int(FCore->Workers.size());
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
