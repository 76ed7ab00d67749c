// Untrusted request bytes through the front end's request path: the parser with its limits,
// delivered in two pieces as a socket may, then the request context, the coding choice and the
// response head built from what was parsed.
#include <utility>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "service/HttpApiWire.h"

namespace http = boost::beast::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t cut = data[0] % (size + 1);
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  THttpServerLimits limits;
  limits.HeaderLimit = 1024;  // small limits so that the fuzzer reaches them
  limits.BodyLimit = 512;
  THttpRequestParser parser;
  LimitRequestParser(parser, limits);
  parser.eager(true);
  boost::beast::error_code ec;
  std::string arrived;
  std::size_t consumed = 0;
  const std::size_t first = std::min(cut, bytes.size());
  for (std::string_view piece : {bytes.substr(0, first), bytes.substr(first)}) {
    arrived.append(piece);
    while (!parser.is_done()) {
      std::size_t n = parser.put(boost::asio::buffer(arrived.data() + consumed, arrived.size() - consumed), ec);
      consumed += n;
      if (ec == http::error::need_more) {
        ec = {};
        break;
      }
      if (ec || n == 0) break;
    }
    if (ec || parser.is_done()) break;
  }
  if (!ec && !parser.is_done()) parser.put_eof(ec);
  if (ec) {
    TResponseHead refusal;
    refusal.Status = StatusForParseError(ec);
    (void)BuildResponseHead(refusal);
    return 0;
  }
  if (!parser.is_done()) return 0;
  const auto& req = parser.get();
  THttpServerRequest ctxt;
  FillRequestContext(req, "127.0.0.1", ctxt);
  (void)TargetUnderRoot(ctxt.URL, "/wclientdat/");
  auto accept = req.find(http::field::accept_encoding);
  std::string_view acceptValue = accept == req.end() ? std::string_view() : std::string_view(accept->value().data(), accept->value().size());
  TResponseHead head;
  head.ContentType = ctxt.InContentType;
  if (AcceptEncodingLists(acceptValue, "deflate") && IsCompressibleType(ctxt.InContentType)) head.ContentEncoding = "deflate";
  head.AcceptEncodingNames = "deflate";
  head.ContentLength = ctxt.InContent.size();
  std::string out = BuildResponseHead(head);
  if (out.size() < 4 || out.compare(out.size() - 4, 4, "\r\n\r\n") != 0) __builtin_trap();
  return 0;
}
