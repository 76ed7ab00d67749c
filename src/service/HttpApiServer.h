// The HTTP/1.1 front end: accepts clients on the registered ports, hands every request under a
// registered root to one request callback on a fixed pool of worker threads, and sends the answer
// with the deflate content coding and one bandwidth cap for all connections together.
// The configuration calls (AddUrl, SetMaxBandwidth, RegisterCompress, SetOnRequest, Clone) may come
// from any thread, also while serving; the callback runs on the workers, up to one per worker at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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
  std::string OutContentType; // set by the callback: no Content-Type header when empty
};

// The callback's result is the response status.
using TOnHttpServerRequest = std::function<uint32_t(THttpServerRequest&)>;

// A content coding: the token clients list in Accept-Encoding and the coder of a whole body.
struct THttpSocketCompress {
  std::string_view Name;
  std::string (*Encode)(std::string_view data);
};
// Raw DEFLATE (no zlib header, no checksum) at the fastest level.
extern const THttpSocketCompress CompressDeflate;

// Limits that protect the server from bad or slow clients. Tests shorten the times.
struct THttpServerLimits {
  std::size_t HeaderLimit = 16 * 1024;  // request line and headers; beyond: 431 and close
  std::size_t BodyLimit = 64 * 1024;    // request body; beyond: 413 and close
  std::chrono::milliseconds HeaderTimeout{15000};  // to receive a whole request once it begins
  std::chrono::milliseconds IdleTimeout{60000};    // between requests of a keep-alive connection
  std::chrono::milliseconds SendTimeout{60000};    // a send that makes no progress for this long closes
  std::size_t MaxConnections = 10000;   // further connections are accepted and closed at once
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
  // already registered, bad port text, HTTPS asked for). Port "0" binds a free port.
  int AddUrl(const std::string& aRoot, const std::string& aPort, bool Https = false,
             const std::string& aDomainName = "*", bool aRegisterURI = false, uint64_t aContext = 0);
  // Registers a coding for bodies of at least aCompressMinSize bytes; the same name again only
  // replaces the minimum size. At most kMaxCodings.
  void RegisterCompress(const THttpSocketCompress& aFunction, std::size_t aCompressMinSize);
  void SetOnRequest(TOnHttpServerRequest aRequest);
  // Starts further workers once: nothing when no callback is set, the count is not positive, or
  // workers were already added; counts above 256 are cut to 256.
  void Clone(int ChildThreadCount);
  // The registered addresses joined with ",".
  std::string GetRegisteredUrl() const;

  // The port the last successful AddUrl bound (0 when none), for callers that passed port "0".
  uint16_t BoundPort() const;
  int WorkerCount() const;
  std::size_t OpenConnections() const;

  struct TCore;

 private:
  std::shared_ptr<TCore> FCore;
};
