#include "http/HttpApiServer.h"

#include <utility>  // before Asio: its coroutine header needs std::exchange under C++20

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <optional>
#include <system_error>

#include "http/HttpAccept.h"
#include "http/HttpServerCore.h"
#include "platform/AsciiText.h"
#include "platform/SystemMemory.h"

namespace net = boost::asio;
using TCore = THttpApiServer::TCore;

namespace {

// Error codes of AddUrl besides the socket's own (positive) error values.
constexpr int kErrorInvalidParameter = -1;
constexpr int kErrorNotSupported = -2;
constexpr int kErrorAlreadyExists = -3;

constexpr std::string_view kDeflateName = "deflate";

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

THttpBody::THttpBody(std::string plain) : FOwnPlain(std::move(plain)), FPlain(FOwnPlain) {}

THttpBody::THttpBody(std::string plain, std::string deflated) : THttpBody(std::move(plain)) {
  FOwnCoded = std::move(deflated);
  std::call_once(FCodeOnce, [&] {
    FCodedBy = kDeflateName;
    FCoded = FOwnCoded;
  });
}

THttpBody::THttpBody(std::shared_ptr<const void> owner, std::string_view plain, std::string_view deflated)
    : FOwner(std::move(owner)), FPlain(plain) {
  if (!deflated.empty()) {
    std::call_once(FCodeOnce, [&] {
      FCodedBy = kDeflateName;
      FCoded = deflated;
    });
  }
}

std::string_view THttpBody::Coded(const THttpSocketCompress& coder, std::string& scratch) const {
  std::call_once(FCodeOnce, [&] {
    FOwnCoded = coder.Encode(FPlain);
    FCoded = FOwnCoded;
    FCodedBy = coder.Name;
  });
  if (FCodedBy == coder.Name) return FCoded;
  scratch = coder.Encode(FPlain);
  return scratch;
}

std::string_view ResponseBody(const THttpServerRequest& ctxt) {
  return ctxt.OutBody ? ctxt.OutBody->Plain() : std::string_view(ctxt.OutContent);
}

const std::string& THttpBody::Tag(THttpEntityTagger tagger) const {
  std::call_once(FTagOnce, [&] { FTag = tagger(FPlain); });
  return FTag;
}



std::size_t DefaultBodyCacheBytes() {
  constexpr uint64_t kLeast = 64ull << 20, kMost = 1ull << 30;
  return std::size_t(std::clamp(PhysicalMemoryBytes() / 16, kLeast, kMost));
}

THttpApiServer::THttpApiServer(THttpServerLimits limits) : FCore(std::make_shared<TCore>(limits)) {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  TEventLoop& loop = FCore->Loop;
  SweepExpired(loop, FCore->SweepInterval());
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
  FCore->Bucket.Clear();  // senders waiting for the cap go before the loop their sockets belong to
  // Destroying the loop destroys its pending steps and with them its connections.
  FCore->Loop.Sweep.reset();
  FCore->Loop.Pacer.reset();
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
    boost::system::error_code ec;
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
  FCore->Change([&](THttpConfig& c) { c.Routes.push_back({listener->Port, root}); });
  FCore->Urls.push_back("http://" + host + ":" + (port == 0 ? std::to_string(listener->Port) : portText) + root);
  FCore->LastPort = listener->Port;
  return 0;
}

void THttpApiServer::RegisterCompress(const THttpSocketCompress& aFunction, std::size_t aCompressMinSize) {
  FCore->Change([&](THttpConfig& c) {
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
  FCore->Change([&](THttpConfig& c) { c.OnRequest = std::move(aRequest); });
}

void THttpApiServer::SetOnRequestInline(TOnHttpServerRequest aRequest) {
  FCore->Change([&](THttpConfig& c) { c.OnRequestInline = std::move(aRequest); });
}

void THttpApiServer::SetEntityTagger(THttpEntityTagger aTagger) {
  FCore->Change([&](THttpConfig& c) { c.Tagger = aTagger; });
}

void THttpApiServer::SetOnResponse(TOnHttpResponse aObserver) {
  FCore->Change([&](THttpConfig& c) { c.OnResponse = std::move(aObserver); });
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
