// The front end's wire rules, free of sockets so that tests and fuzzers reach them: the request
// parser with its limits, the request context, the response head and the content-coding choice.
// Pure functions; safe from any thread.
#pragma once

#include <boost/beast/http.hpp>

#include <cstdint>
#include <string>
#include <string_view>

#include "http/HttpApiServer.h"

using THttpRequestParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

// Applies the header and body limits; call before the first byte is parsed.
void LimitRequestParser(THttpRequestParser& parser, const THttpServerLimits& limits);
// The status that answers a request the parser refused: 431, 413 or 400.
uint32_t StatusForParseError(const boost::beast::error_code& ec);

// Fills the request fields of `ctxt` and empties its response fields.
void FillRequestContext(const boost::beast::http::request<boost::beast::http::string_body>& req,
                        std::string_view remoteIP, THttpServerRequest& ctxt);

// True when `target` begins with `root` ("/name/"), ASCII letters compared without regard to case.
bool TargetUnderRoot(std::string_view target, std::string_view root);

// Reason phrase of a status; "Invalid Request" for any status not in the table.
std::string_view StatusReason(uint32_t status);

// True when the Accept-Encoding value lists `name`: a token starts at the first character that is
// neither a comma nor a blank and runs to the next comma, semicolon or the end; it must equal
// `name` exactly.
bool AcceptEncodingLists(std::string_view acceptEncoding, std::string_view name);

// True when a body of this content type may be content-coded.
bool IsCompressibleType(std::string_view contentType);

// A coded answer's tag names its coding ("...-deflate"), so it differs from the plain one's.
std::string CodedEntityTag(std::string_view plainTag, std::string_view coding);
// True when an If-None-Match value names `tag` (or is "*"); weak tags compare by their opaque part.
bool IfNoneMatchLists(std::string_view ifNoneMatch, std::string_view tag);

// The status line and headers of a response, ending with the blank line.
struct TResponseHead {
  uint32_t Status = 200;
  std::string_view ContentType;
  std::string_view ContentEncoding;  // empty: not coded
  std::string_view AcceptEncodingNames;  // registered codings joined with ","; empty: no such line
  std::size_t ContentLength = 0;
  std::string_view ETag;       // empty: no such line
  bool VaryAcceptEncoding = false;
  uint32_t MaxAge = 0;         // "Cache-Control: max-age=N" when not 0
  bool HasBody = true;    // false for statuses that carry no body (1xx, 204, 304)
  bool Close = false;     // "Connection: close"
  bool KeepAlive10 = false;  // "Connection: keep-alive" for an HTTP/1.0 client that asked for it
};
std::string BuildResponseHead(const TResponseHead& head);

// The body of the 500 answer when the callback raised: the status and the error's kind. Its message
// may name server paths and internal detail, so it is left to the callback's owner to log.
std::string InternalErrorPage(std::string_view kind);
