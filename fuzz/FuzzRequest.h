// Request bytes as a socket delivers them, for the targets of the request path: the input layout
// (byte 0 picks where the bytes are cut in two pieces, the rest are the bytes) and the parser fed
// with the limits and the pieces as the front end feeds it. One input at a time; not synchronised.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/HttpApiWire.h"

namespace fuzz {

struct TParsedRequest {
  boost::beast::error_code Error;  // set: the parser refused the bytes
  bool Done = false;               // a whole request arrived
};

// Feeds `bytes` to `parser` in two pieces cut at `cut`, then the end of the stream.
inline TParsedRequest ParseInPieces(std::string_view bytes, std::size_t cut, THttpRequestParser& parser) {
  namespace http = boost::beast::http;
  TParsedRequest r;
  parser.eager(true);
  std::string arrived;
  std::size_t consumed = 0;
  const std::size_t first = std::min(cut, bytes.size());
  for (std::string_view piece : {bytes.substr(0, first), bytes.substr(first)}) {
    arrived.append(piece);
    while (!parser.is_done()) {
      const std::size_t n = parser.put(boost::asio::buffer(arrived.data() + consumed, arrived.size() - consumed), r.Error);
      consumed += n;
      if (r.Error == http::error::need_more) {
        r.Error = {};
        break;
      }
      if (r.Error || n == 0) break;
    }
    if (r.Error || parser.is_done()) break;
  }
  if (!r.Error && !parser.is_done()) parser.put_eof(r.Error);
  r.Done = !r.Error && parser.is_done();
  return r;
}

// The input of a request target (not empty): byte 0 picks the cut, the rest are the bytes, parsed
// with limits small enough for the fuzzer to reach them.
inline TParsedRequest ParseInput(const uint8_t* data, std::size_t size, THttpRequestParser& parser) {
  THttpServerLimits limits;
  limits.HeaderLimit = 1024;
  limits.BodyLimit = 512;
  LimitRequestParser(parser, limits);
  return ParseInPieces(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), data[0] % (size + 1), parser);
}

// Every value of the request's Accept-Encoding headers joined with ",", as the front end reads them.
inline std::string AcceptEncodingOf(const boost::beast::http::request<boost::beast::http::string_body>& req) {
  std::string value;
  for (auto it = req.find(boost::beast::http::field::accept_encoding);
       it != req.end() && it->name() == boost::beast::http::field::accept_encoding; ++it) {
    if (!value.empty()) value += ',';
    value.append(it->value().data(), it->value().size());
  }
  return value;
}

inline bool EndsWithBlankLine(const std::string& head) {
  return head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
}

}  // namespace fuzz
