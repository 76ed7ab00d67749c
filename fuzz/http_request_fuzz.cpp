// Untrusted request bytes through the front end's request path: the parser with its limits,
// delivered in two pieces as a socket may, then the request context, the coding choice and the
// response head built from what was parsed.
#include <utility>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzRequest.h"
#include "http/HttpApiWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  THttpRequestParser parser;
  const fuzz::TParsedRequest parsed = fuzz::ParseInput(data, size, parser);
  if (parsed.Error) {
    TResponseHead refusal;
    refusal.Status = StatusForParseError(parsed.Error);
    (void)BuildResponseHead(refusal);
    return 0;
  }
  if (!parsed.Done) return 0;
  const auto& req = parser.get();
  THttpServerRequest ctxt;
  FillRequestContext(req, "127.0.0.1", ctxt);
  (void)TargetUnderRoot(ctxt.URL, "/wclientdat/");
  TResponseHead head;
  head.ContentType = ctxt.InContentType;
  if (AcceptEncodingLists(fuzz::AcceptEncodingOf(req), "deflate") && IsCompressibleType(ctxt.InContentType)) head.ContentEncoding = "deflate";
  head.AcceptEncodingNames = "deflate";
  head.ContentLength = ctxt.InContent.size();
  if (!fuzz::EndsWithBlankLine(BuildResponseHead(head))) __builtin_trap();
  return 0;
}
