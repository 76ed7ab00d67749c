#include "http/HttpApiWire.h"

#include "platform/AsciiText.h"

#include <memory>
#include <new>
#include <stdexcept>

namespace http = boost::beast::http;

namespace {

std::string_view View(boost::beast::string_view s) { return {s.data(), s.size()}; }

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
}

}  // namespace

void LimitRequestParser(THttpRequestParser& parser, const THttpServerLimits& limits) {
  parser.header_limit(static_cast<std::uint32_t>(limits.HeaderLimit));
  parser.body_limit(static_cast<std::uint64_t>(limits.BodyLimit));
}

uint32_t StatusForParseError(const boost::beast::error_code& ec) {
  if (ec == http::error::header_limit) return 431;
  if (ec == http::error::body_limit) return 413;
  return 400;
}

void FillRequestContext(const http::request<http::string_body>& req, std::string_view remoteIP,
                        THttpServerRequest& ctxt) {
  ctxt.URL.assign(View(req.target()));
  ctxt.Method.assign(View(req.method_string()));
  ctxt.InHeaders.clear();
  for (const auto& field : req) {
    ctxt.InHeaders.append(View(field.name_string()));
    ctxt.InHeaders.append(": ");
    ctxt.InHeaders.append(View(field.value()));
    ctxt.InHeaders.append("\r\n");
  }
  ctxt.InHeaders.append("RemoteIP: ");
  ctxt.InHeaders.append(remoteIP);
  ctxt.InHeaders.append("\r\n");
  ctxt.InContent = req.body();
  auto type = req.find(http::field::content_type);
  ctxt.InContentType.assign(type == req.end() ? std::string_view() : View(type->value()));
  ctxt.RemoteIP.clear();
  ctxt.OutContent.clear();
  ctxt.OutBody.reset();
  ctxt.OutContentType.clear();
}

bool TargetUnderRoot(std::string_view target, std::string_view root) {
  return StartsWithTextAscii(target, root);
}

std::string_view StatusReason(uint32_t status) {
  switch (status) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-Authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 207: return "Multi-Status";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 416: return "Requested Range Not Satisfiable";
    case 426: return "Upgrade Required";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 505: return "HTTP Version Not Supported";
    case 511: return "Network Authentication Required";
    default: return "Invalid Request";
  }
}

bool AcceptEncodingLists(std::string_view acceptEncoding, std::string_view name) {
  std::size_t i = 0;
  const std::size_t n = acceptEncoding.size();
  while (i < n) {
    while (i < n && (acceptEncoding[i] == ',' || acceptEncoding[i] == ' ' || acceptEncoding[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < n && acceptEncoding[i] != ',' && acceptEncoding[i] != ';') ++i;
    if (i > start && acceptEncoding.substr(start, i - start) == name) return true;
    while (i < n && acceptEncoding[i] != ',') ++i;  // parameters after ";"
  }
  return false;
}

bool IsCompressibleType(std::string_view contentType) {
  if (StartsWithTextAscii(contentType, "text/")) return true;
  if (StartsWithTextAscii(contentType, "image/")) {
    auto rest = contentType.substr(6);
    return StartsWithTextAscii(rest, "svg") || StartsWithTextAscii(rest, "x-ico");
  }
  if (StartsWithTextAscii(contentType, "application/")) {
    auto rest = contentType.substr(12);
    return StartsWithTextAscii(rest, "json") || StartsWithTextAscii(rest, "xml") ||
           StartsWithTextAscii(rest, "javascript");
  }
  return false;
}

std::string BuildResponseHead(const TResponseHead& head) {
  std::string out;
  out.reserve(192 + head.ContentType.size());
  out += "HTTP/1.1 ";
  out += std::to_string(head.Status);
  out += ' ';
  out += StatusReason(head.Status);
  out += "\r\n";
  if (!head.AcceptEncodingNames.empty()) {
    out += "Accept-Encoding: ";
    out += head.AcceptEncodingNames;
    out += "\r\n";
  }
  out += "Server: NuvoHttp/1.0\r\n";
  if (!head.ContentType.empty()) {
    out += "Content-Type: ";
    out += head.ContentType;
    out += "\r\n";
  }
  if (!head.ContentEncoding.empty()) {
    out += "Content-Encoding: ";
    out += head.ContentEncoding;
    out += "\r\n";
  }
  if (!head.ETag.empty()) {
    out += "ETag: ";
    out += head.ETag;
    out += "\r\n";
  }
  if (head.VaryAcceptEncoding) out += "Vary: Accept-Encoding\r\n";
  if (head.MaxAge != 0) {
    out += "Cache-Control: max-age=";
    out += std::to_string(head.MaxAge);
    out += "\r\n";
  }
  if (head.HasBody) {
    out += "Content-Length: ";
    out += std::to_string(head.ContentLength);
    out += "\r\n";
  }
  if (head.Close) out += "Connection: close\r\n";
  else if (head.KeepAlive10) out += "Connection: keep-alive\r\n";
  out += "\r\n";
  return out;
}

std::string InternalErrorPage(std::string_view kind) {
  std::string page = "<!DOCTYPE html><html><head><title>500 Internal Server Error</title></head><body>"
                     "<h1>500 Internal Server Error</h1><p>";
  AppendHtmlEscaped(page, kind);
  page += "</p></body></html>";
  return page;
}

std::string CodedEntityTag(std::string_view plainTag, std::string_view coding) {
  std::string tag(plainTag.substr(0, plainTag.size() - 1));
  tag += '-';
  tag += coding;
  tag += '"';
  return tag;
}

bool IfNoneMatchLists(std::string_view ifNoneMatch, std::string_view tag) {
  std::size_t i = 0;
  const std::size_t n = ifNoneMatch.size();
  while (i < n) {
    while (i < n && (ifNoneMatch[i] == ',' || ifNoneMatch[i] == ' ' || ifNoneMatch[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < n && ifNoneMatch[i] != ',') ++i;
    std::string_view item = ifNoneMatch.substr(start, i - start);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (item.substr(0, 2) == "W/") item.remove_prefix(2);
    if (item == "*" || item == tag) return true;
  }
  return false;
}
