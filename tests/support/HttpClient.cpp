#include "support/HttpClient.h"

#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <functional>
#include <stdexcept>

#include "formats/ZStream.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

THttpReply Exchange(tcp::socket& socket, beast::flat_buffer& buffer, const std::string& method,
                    const std::string& target, const std::vector<std::pair<std::string, std::string>>& headers,
                    const std::string& body) {
  http::request<http::string_body> req(http::string_to_verb(method), target, 11);
  req.set(http::field::host, "127.0.0.1");
  for (const auto& [name, value] : headers) req.insert(name, value);
  req.body() = body;
  if (!body.empty()) req.prepare_payload();
  http::write(socket, req);
  http::response_parser<http::string_body> parser;
  parser.body_limit(64u << 20);
  if (method == "HEAD") parser.skip(true);
  http::read(socket, buffer, parser);
  const auto& res = parser.get();
  THttpReply reply;
  reply.Status = res.result_int();
  reply.Reason = std::string(res.reason());
  for (const auto& field : res) reply.Headers.emplace(std::string(field.name_string()), std::string(field.value()));
  reply.Body = res.body();
  return reply;
}

}  // namespace

THttpReply HttpRequest(uint16_t port, const std::string& method, const std::string& target,
                       const std::vector<std::pair<std::string, std::string>>& headers,
                       const std::string& body) {
  net::io_context io;
  tcp::socket socket(io);
  socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  beast::flat_buffer buffer;
  return Exchange(socket, buffer, method, target, headers, body);
}

struct THttpConnection::TState {
  net::io_context Io;
  tcp::socket Socket{Io};
  beast::flat_buffer Buffer;
};

THttpConnection::THttpConnection(uint16_t port) : FState(std::make_unique<TState>()) {
  FState->Socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
}
THttpConnection::~THttpConnection() = default;
THttpConnection::THttpConnection(THttpConnection&&) noexcept = default;

THttpReply THttpConnection::Get(const std::string& target,
                                const std::vector<std::pair<std::string, std::string>>& headers) {
  return Exchange(FState->Socket, FState->Buffer, "GET", target, headers, {});
}

TRawReply RawExchange(uint16_t port, const std::string& bytes, std::chrono::milliseconds timeout) {
  net::io_context io;
  tcp::socket socket(io);
  socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  TRawReply reply;
  if (!bytes.empty()) {
    beast::error_code ec;
    net::write(socket, net::buffer(bytes), ec);  // the server may close before taking everything
  }
  char chunk[4096];
  std::function<void()> read = [&] {
    socket.async_read_some(net::buffer(chunk), [&](beast::error_code ec, std::size_t n) {
      reply.Bytes.append(chunk, n);
      if (ec) {
        reply.Closed = true;
        return;
      }
      read();
    });
  };
  read();
  io.run_for(timeout);
  return reply;
}

uint16_t FreeLoopbackPort() {
  net::io_context io;
  tcp::acceptor probe(io, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
  return probe.local_endpoint().port();
}

std::string InflateRaw(const std::string& coded) {
  std::optional<std::string> out = ZlibInflate(coded, true);
  if (!out) throw std::runtime_error("not a raw deflate stream");
  return *out;
}
