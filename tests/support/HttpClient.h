// A small blocking HTTP client for end-to-end tests over loopback: one request per connection,
// raw byte exchanges for malformed input, and raw-deflate decoding of coded bodies.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct THttpReply {
  unsigned Status = 0;
  std::string Reason;
  std::multimap<std::string, std::string> Headers;  // names as sent
  std::string Body;
  bool Has(const std::string& name) const { return Headers.count(name) > 0; }
  std::string Header(const std::string& name) const {
    auto it = Headers.find(name);
    return it == Headers.end() ? std::string() : it->second;
  }
};

// Sends one request to 127.0.0.1:port and reads the answer. Throws on connection failures.
THttpReply HttpRequest(uint16_t port, const std::string& method, const std::string& target,
                       const std::vector<std::pair<std::string, std::string>>& headers = {},
                       const std::string& body = {});
inline THttpReply HttpGet(uint16_t port, const std::string& target,
                          const std::vector<std::pair<std::string, std::string>>& headers = {}) {
  return HttpRequest(port, "GET", target, headers);
}

// One keep-alive connection to 127.0.0.1:port that sends requests one after another.
class THttpConnection {
 public:
  explicit THttpConnection(uint16_t port);
  ~THttpConnection();
  THttpConnection(THttpConnection&&) noexcept;
  // Sends a GET and reads its answer. Throws when the connection fails.
  THttpReply Get(const std::string& target, const std::vector<std::pair<std::string, std::string>>& headers = {});

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// Writes `bytes` to 127.0.0.1:port and collects what comes back until the server closes or
// `timeout` passes. `Closed` tells which of the two happened.
struct TRawReply {
  std::string Bytes;
  bool Closed = false;
};
TRawReply RawExchange(uint16_t port, const std::string& bytes, std::chrono::milliseconds timeout);

// A port that was free on 127.0.0.1 a moment ago (bound to port 0, read, closed); a server that
// binds it later may still lose a race to another process.
uint16_t FreeLoopbackPort();

// Decodes a raw DEFLATE stream (no zlib header); throws when it is not one.
std::string InflateRaw(const std::string& coded);
