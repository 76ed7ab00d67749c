#include "http/HttpSession.h"

#include <boost/asio/post.hpp>
#include <boost/beast/http.hpp>

#include <cxxabi.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <typeinfo>

#include "http/HttpServerCore.h"
#include "platform/Clock.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

int64_t NowMs() { return int64_t(GetTickCount64()); }

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

uint32_t CallHandler(const TOnHttpServerRequest& handler, THttpServerRequest& ctxt) {
  try {
    return handler(ctxt);
  } catch (const std::exception& e) {
    ctxt.OutBody.reset();
    ctxt.OutContent = InternalErrorPage(ExceptionKind(typeid(e)));
    ctxt.OutContentType = "text/html; charset=utf-8";
  } catch (...) {
    ctxt.OutBody.reset();
    ctxt.OutContent = InternalErrorPage("unknown error");
    ctxt.OutContentType = "text/html; charset=utf-8";
  }
  return 500;
}

// The values of every `field` line of `req`, joined with ",".
void JoinField(const http::request<http::string_body>& req, http::field field, std::string& out) {
  out.clear();
  for (auto it = req.find(field); it != req.end() && it->name() == field; ++it) {
    if (!out.empty()) out += ',';
    out.append(it->value().data(), it->value().size());
  }
}

// Grants the cap's waiting senders their chunks at `when`, and again as long as any wait.
void Pace(THttpApiServer::TCore& core, Clock::time_point when) {
  core.Loop.Pacer->expires_at(when);
  core.Loop.Pacer->async_wait([&core](beast::error_code ec) {  // the core outlives its loop's steps
    if (ec) return;
    if (auto next = core.Bucket.Dispatch()) Pace(core, *next);
  });
}

}  // namespace

THttpSession::THttpSession(tcp::socket socket, std::shared_ptr<THttpApiServer::TCore> core, TEventLoop& loop,
                           uint16_t localPort)
    : FSocket(std::move(socket)), FCore(std::move(core)), FLoop(loop), FPort(localPort) {
  FRemoteIP = RemoteAddressText(FSocket);
}

THttpSession::~THttpSession() {
  if (FRegistered) {
    std::lock_guard<std::mutex> hold(FLoop.SessionsLock);
    FLoop.Sessions.erase(FEntry);
  }
  FCore->Connections.fetch_sub(1);
}

void THttpSession::Start() {
  {
    std::lock_guard<std::mutex> hold(FLoop.SessionsLock);
    FEntry = FLoop.Sessions.insert(FLoop.Sessions.end(), this);
    FRegistered = true;
  }
  ReadRequest();
}

void THttpSession::WaitForRequest() {
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

void THttpSession::ReadRequest() {
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

void THttpSession::OnRead(beast::error_code ec) {
  FArrived = Clock::now();
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

bool THttpSession::Routed(const THttpConfig& config, std::string_view target) const {
  for (const auto& route : config.Routes)
    if (route.Port == FPort && TargetUnderRoot(target, route.Root)) return true;
  return false;
}

// Takes the answer out of the request context: the status line and headers, and the body
// (shared, or the context's own text), coded when the client and the body allow.
void THttpSession::Prepare(uint32_t status, bool close) {
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
  if (status == 200 && !plain.empty() && FConfig->Tagger) {
    // A strong tag from the bytes; a client that holds them gets 304 and no body.
    FTag = FBodyRef ? FBodyRef->Tag(FConfig->Tagger) : FConfig->Tagger(plain);
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
  FStatus = head.Status;
  FRawSize = FBody.empty() ? 0 : plain.size();
  FSkipBody = false;
  FClose = head.Close;
  FSent = 0;
  FPaid = 0;
}

void THttpSession::Send() {
  const std::size_t remaining = Total() - FSent;
  if (remaining == 0) return OnSent();
  if (FPaid == 0) {
    auto ask = FCore->Bucket.Ask(FRemoteIP, remaining, [self = shared_from_this()](std::size_t bytes) {
      self->FPaid = bytes;
      self->SendSome();
    });
    if (ask.DispatchAt) Pace(*FCore, *ask.DispatchAt);
    if (ask.Bytes == 0) {
      FDeadline.store(kNoDeadline, std::memory_order_relaxed);  // waiting for the cap is no stall of the client
      return;
    }
    FPaid = ask.Bytes;
  }
  SendSome();
}

// Writes what the kernel takes of the paid bytes; a client that takes nothing for the send
// timeout is dropped.
void THttpSession::SendSome() {
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

void THttpSession::OnWritten(beast::error_code ec, std::size_t n) {
  if (ec) return Close();
  FSent += n;
  FPaid -= std::min(FPaid, n);
  Send();
}

void THttpSession::OnSent() {
  if (FConfig->OnResponse)
    FConfig->OnResponse({FStatus, FRawSize, FBody.size(),
                         std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - FArrived)});
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
void THttpSession::Linger() {
  beast::error_code ec;
  FSocket.shutdown(tcp::socket::shutdown_send, ec);
  if (ec) return Close();
  FBuffer.clear();
  FBuffer.shrink_to_fit();
  FDeadline.store(NowMs() + std::min<int64_t>(FCore->Limits.HeaderTimeout.count(), 2000), std::memory_order_relaxed);
  Drain();
}

void THttpSession::Drain() {
  FSocket.async_read_some(FBuffer.prepare(4096), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
    self->FDrained += n;
    if (ec || self->FDrained > 256 * 1024) return self->Close();
    self->Drain();
  });
}

void THttpSession::Close() {
  beast::error_code ec;
  std::lock_guard<std::mutex> hold(FCloseLock);
  FClosed = true;
  FSocket.close(ec);
}

void THttpSession::Abort() {
  std::lock_guard<std::mutex> hold(FCloseLock);
  if (!FClosed) ::shutdown(FSocket.native_handle(), SHUT_RDWR);
}
