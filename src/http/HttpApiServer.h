// The HTTP/1.1 front end: accepts clients on the registered ports, hands every request under a
// registered root to one request callback on a fixed pool of worker threads, and sends the answer
// with the deflate content coding and one bandwidth cap for all connections together.
// Connections share one event loop run by a thread per core; an answer that is in memory may be
// made there by the inline callback, every other request waits on one queue that any idle worker takes.
// The configuration calls (AddUrl, SetMaxBandwidth, RegisterCompress, SetOnRequest, Clone...) may come
// from any thread, also while serving; the callback runs on the workers, up to one per worker at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct THttpSocketCompress;

// A response body that any number of answers send without copying it: the bytes never change once
// made, and a coded form is made at most once, by the first answer that needs it.
class THttpBody {
 public:
  explicit THttpBody(std::string plain);
  // Holds `plain` and `deflated`, its form under the coding named "deflate".
  THttpBody(std::string plain, std::string deflated);
  // Bytes held by `owner`; `deflated`, when not empty, is their form under the coding named "deflate".
  THttpBody(std::shared_ptr<const void> owner, std::string_view plain, std::string_view deflated = {});
  THttpBody(const THttpBody&) = delete;
  THttpBody& operator=(const THttpBody&) = delete;

  std::string_view Plain() const { return FPlain; }
  // False when the bytes belong to an owner shared with others.
  bool OwnsBytes() const { return !FOwner; }
  // The body under `coder`. The first coding asked keeps its form in the body; another one codes
  // into `scratch` on every call.
  std::string_view Coded(const THttpSocketCompress& coder, std::string& scratch) const;
  // The entity tag of the plain bytes, made once by the first `tagger` asked.
  const std::string& Tag(std::string (*tagger)(std::string_view plain)) const;

 private:
  std::shared_ptr<const void> FOwner;
  std::string FOwnPlain;
  std::string_view FPlain;
  mutable std::once_flag FCodeOnce;
  mutable std::string_view FCodedBy;  // the coding name of the kept form
  mutable std::string FOwnCoded;
  mutable std::string_view FCoded;
  mutable std::once_flag FTagOnce;
  mutable std::string FTag;
};
using THttpBodyRef = std::shared_ptr<const THttpBody>;

// The request context the callback receives: raw 8-bit strings, one context per request.
// The handler reads URL alone; the other request fields are filled as the front-end contract
// specifies them.
struct THttpServerRequest {
  std::string URL;            // the request target exactly as in the request line
  std::string Method;
  std::string InHeaders;      // "Name: value" CR LF per header, then "RemoteIP: <address>" CR LF
  std::string InContent;
  std::string InContentType;
  std::string RemoteIP;       // left empty: the address reaches the callback only through InHeaders
  std::string OutContent;     // set by the callback: the response body
  THttpBodyRef OutBody;       // or this shared body instead, which then takes precedence
  std::string OutContentType; // set by the callback: no Content-Type header when empty
};

// The bytes the answer to `ctxt` carries (before any content coding).
std::string_view ResponseBody(const THttpServerRequest& ctxt);

// The callback's result is the response status.
using TOnHttpServerRequest = std::function<uint32_t(THttpServerRequest&)>;
// What the inline callback returns for a request it cannot answer without blocking: the request
// then goes to the workers' queue and the callback of SetOnRequest answers it.
inline constexpr uint32_t kHttpNeedsWorker = 0xFFFFFFFFu;

// A content coding: the token clients list in Accept-Encoding and the coder of a whole body.
struct THttpSocketCompress {
  std::string_view Name;
  std::string (*Encode)(std::string_view data);
};
// Makes the strong entity tag of a body from its plain bytes: the same bytes, the same tag.
using THttpEntityTagger = std::string (*)(std::string_view plain);

// What the response observer learns of every answer, once it is sent.
struct THttpResponseInfo {
  uint32_t Status = 0;
  std::size_t RawBytes = 0;   // the body before coding; 0 when no body went out
  std::size_t SentBytes = 0;  // the body as sent
  std::chrono::microseconds Duration{0};  // from the request read to the answer sent
};
using TOnHttpResponse = std::function<void(const THttpResponseInfo&)>;

// The budget of the answers kept for reuse when none is given: a sixteenth of the machine's
// memory, from 64 MB to 1 GB (64 MB when the machine does not say).
std::size_t DefaultBodyCacheBytes();

// Limits that protect the server from bad or slow clients. Tests shorten the times.
struct THttpServerLimits {
  std::size_t HeaderLimit = 16 * 1024;  // request line and headers; beyond: 431 and close
  std::size_t BodyLimit = 64 * 1024;    // request body; beyond: 413 and close
  std::chrono::milliseconds HeaderTimeout{15000};  // to receive a whole request once it begins
  std::chrono::milliseconds IdleTimeout{60000};    // between requests of a keep-alive connection
  std::chrono::milliseconds SendTimeout{60000};    // a send that makes no progress for this long closes
  // At the cap the longest-idle keep-alive connection is closed to admit a new one; a newcomer is
  // closed at once only when no connection is idle.
  std::size_t MaxConnections = 10000;
  std::size_t BodyCacheBytes = DefaultBodyCacheBytes();  // answers kept by the request service for reuse
  // "Cache-Control: max-age=N" on answers with an entity tag; 0: no such header.
  uint32_t CacheMaxAge = 0;
};

// The text of an error code returned by THttpApiServer::AddUrl.
std::string AddUrlErrorText(int code);

class THttpApiServer {
 public:
  static constexpr int kMaxWorkers = 257;  // the first worker and at most 256 clones
  static constexpr std::size_t kMaxCodings = 32;

  // Starts the first worker; nothing is received until an address is registered.
  explicit THttpApiServer(THttpServerLimits limits = {});
  // Stops receiving, closes every listener and connection, and waits for every worker.
  ~THttpApiServer();
  THttpApiServer(const THttpApiServer&) = delete;
  THttpApiServer& operator=(const THttpApiServer&) = delete;

  // Caps the total send rate in bytes per second; 0 removes the cap, 1 to 1023 become 1024.
  void SetMaxBandwidth(uint32_t Value);
  uint32_t MaxBandwidth() const;

  // Binds the port on every interface (host "+") or on the given address and registers
  // "http://host:port/root/". Returns 0, or an error code and changes nothing (port taken, address
  // already registered, bad port text, HTTPS asked for). Port "0" binds a free port. The root "/"
  // takes every request target of the port.
  int AddUrl(const std::string& aRoot, const std::string& aPort, bool Https = false,
             const std::string& aDomainName = "*", bool aRegisterURI = false, uint64_t aContext = 0);
  // Registers a coding for bodies of at least aCompressMinSize bytes; the same name again only
  // replaces the minimum size. At most kMaxCodings.
  void RegisterCompress(const THttpSocketCompress& aFunction, std::size_t aCompressMinSize);
  void SetOnRequest(TOnHttpServerRequest aRequest);
  // An optional callback run on the event loop before the workers are asked: it answers what is in
  // memory and must never block; kHttpNeedsWorker passes the request on to the workers.
  void SetOnRequestInline(TOnHttpServerRequest aRequest);
  // Tags every 200 answer with a body (ETag, and 304 for a client that holds it); none: no tags.
  void SetEntityTagger(THttpEntityTagger aTagger);
  // Called once for every answer sent, on the event loop; it must never block.
  void SetOnResponse(TOnHttpResponse aObserver);
  // Starts further workers once: nothing when no callback is set, the count is not positive, or
  // workers were already added; counts above 256 are cut to 256.
  void Clone(int ChildThreadCount);
  // The registered addresses joined with ",".
  std::string GetRegisteredUrl() const;

  // The port the last successful AddUrl bound (0 when none), for callers that passed port "0".
  uint16_t BoundPort() const;
  int WorkerCount() const;
  int EventLoopCount() const;
  std::size_t OpenConnections() const;

  struct TCore;

 private:
  std::shared_ptr<TCore> FCore;
};
