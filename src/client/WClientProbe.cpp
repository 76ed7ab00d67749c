#include "client/WClientProbe.h"

#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>

#include "catalogue/uGameLib.h"
#include "formats/CnCRC32.h"
#include "formats/Jpk.h"
#include "formats/MD5.h"
#include "formats/WIL.h"
#include "formats/Wzl.h"
#include "formats/ZStream.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"
#include "service/RequestToken.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

// ---- Request targets ----

std::string WClientToken(const std::string& sWClientPass, const std::string& plain) {
  return SimpleEnStringMsg(plain, MD5String(sWClientPass));
}

std::string WClientTarget(const std::string& sWClientPass, int nType, const std::string& sDir,
                          const std::string& sLib, const std::string& sImage) {
  std::string plain = sDir + "|" + sLib;
  if (!sImage.empty()) plain += "|" + sImage;
  return "/wclientdat/" + WClientToken(sWClientPass, plain) + "/" + std::to_string(nType) + ".html";
}

bool SplitCatalogueKey(const std::string& key, std::string& sDir, std::string& sLib) {
  const size_t last = key.rfind('\\');
  if (key.empty() || key[0] != '\\' || last == std::string::npos || last == 0 || last + 1 == key.size()) return false;
  sDir = key.substr(1, last - 1);
  sLib = key.substr(last + 1);
  return true;
}

// ---- Fetching ----

namespace {

constexpr std::chrono::seconds kIoTimeout{30};

}  // namespace

struct TWClientConnection::TImpl {
  net::io_context Io;
  std::optional<beast::tcp_stream> Stream;
  beast::flat_buffer Buffer;
  std::string Host;
  std::string Port;

  // Runs one asynchronous step to its end under the timeout.
  template <typename Start>
  beast::error_code Step(Start start) {
    beast::error_code result;
    Stream->expires_after(kIoTimeout);
    start([&result](beast::error_code ec, auto&&...) { result = ec; });
    Io.restart();
    Io.run();
    return result;
  }

  beast::error_code Connect() {
    beast::error_code ec;
    tcp::resolver resolver(Io);
    auto endpoints = resolver.resolve(Host, Port, ec);
    if (ec) return ec;
    Stream.emplace(Io);
    Buffer.clear();
    ec = Step([&](auto done) { Stream->async_connect(endpoints, done); });
    if (ec) Stream.reset();
    return ec;
  }
};

TWClientConnection::TWClientConnection(const std::string& url) : FImpl(std::make_unique<TImpl>()) {
  std::string rest = url;
  if (const size_t scheme = rest.find("://"); scheme != std::string::npos) {
    if (rest.substr(0, scheme) != "http") throw std::invalid_argument("not an http address: " + url);
    rest = rest.substr(scheme + 3);
  }
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  FPrefix = slash == std::string::npos ? "/" : rest.substr(slash);
  if (FPrefix == "/") FPrefix = "/wclientdat/";
  if (FPrefix.back() != '/') FPrefix += '/';
  // An IPv6 host stands in brackets, around colons of its own.
  const size_t hostEnd = authority.rfind(']') == std::string::npos ? 0 : authority.rfind(']') + 1;
  const size_t colon = authority.find(':', hostEnd);
  FImpl->Host = authority.substr(0, colon);
  FImpl->Port = colon == std::string::npos ? "80" : authority.substr(colon + 1);
  if ((hostEnd != 0 || authority.rfind('[', 0) == 0) && (FImpl->Host.front() != '[' || hostEnd != FImpl->Host.size()))
    throw std::invalid_argument("not an http address: " + url);
  if (hostEnd != 0) FImpl->Host = FImpl->Host.substr(1, hostEnd - 2);
  if (FImpl->Host.empty() || FImpl->Port.empty()) throw std::invalid_argument("not an http address: " + url);
  const bool digits = FImpl->Port.size() <= 5 && FImpl->Port.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(FImpl->Port) < 1 || std::stoi(FImpl->Port) > 65535)
    throw std::invalid_argument("port " + FImpl->Port + " is not in 1-65535: " + url);
}

TWClientConnection::~TWClientConnection() = default;

TWClientAnswer TWClientConnection::Get(const std::string& target, bool deflate) {
  TWClientAnswer answer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool reused = FImpl->Stream.has_value();
    beast::error_code ec;
    if (!reused) ec = FImpl->Connect();
    if (ec) {
      answer.Error = "cannot connect to " + FImpl->Host + ":" + FImpl->Port + ": " + ec.message();
      return answer;
    }
    http::request<http::empty_body> req(http::verb::get, target, 11);
    req.set(http::field::host, FImpl->Host.find(':') == std::string::npos ? FImpl->Host : "[" + FImpl->Host + "]");
    if (deflate) req.set(http::field::accept_encoding, "deflate");
    req.keep_alive(true);
    http::response_parser<http::string_body> parser;
    parser.body_limit(std::uint64_t{1} << 30);
    ec = FImpl->Step([&](auto done) { http::async_write(*FImpl->Stream, req, done); });
    if (!ec) ec = FImpl->Step([&](auto done) { http::async_read(*FImpl->Stream, FImpl->Buffer, parser, done); });
    if (ec) {
      FImpl->Stream.reset();
      if (reused) continue;  // the server closed a kept connection: ask once more on a new one
      answer.Error = target + ": " + ec.message();
      return answer;
    }
    http::response<http::string_body> res = parser.release();
    if (!res.keep_alive()) FImpl->Stream.reset();
    answer.Status = res.result_int();
    answer.WireBytes = res.body().size();
    const std::string coding(res[http::field::content_encoding]);
    if (coding == "deflate") {
      answer.Deflated = true;
      std::optional<std::string> body = ZlibInflate(res.body(), true);
      if (!body) answer.Error = target + ": the deflate-coded body does not decode";
      else answer.Body = std::move(*body);
    } else if (!coding.empty()) {
      answer.Error = target + ": unknown content coding " + coding;
    } else {
      answer.Body = std::move(res.body());
    }
    return answer;
  }
  answer.Error = target + ": the connection closed twice";
  return answer;
}

std::string RefusalText(const TWClientAnswer& a) {
  static const std::map<int, std::string> kCauses = {
      {-1, "empty request target"},
      {-2, "wrong format: the path is not /wclientdat/TOKEN/TYPE.html"},
      {-3, "wrong type: the type code is not 1 to 5"},
      {-4, "bad token: it does not decode to a directory and a file (another password?)"},
      {-99, "too soon: this token had the index table less than 300 s ago"},
  };
  const std::string mark = "Error Code: ";
  const size_t at = a.Body.find(mark);
  if (a.Status == 404 && at != std::string::npos) {
    const int code = std::atoi(a.Body.c_str() + at + mark.size());
    const auto cause = kCauses.find(code);
    return "refused with error code " + std::to_string(code) +
           (cause == kCauses.end() ? std::string() : ", " + cause->second);
  }
  if (a.Status == 400 && a.Body.empty()) return "bad request (400): an image request needs an image";
  if (a.Status == 500) return "the server failed while answering (500): can it write its work log?";
  return "status " + std::to_string(a.Status);
}

// ---- Checks of answers ----

namespace {

std::string Hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::all_of(b, b + n, [](uint8_t c) { return c == 0; });
}

}  // namespace

std::string CheckImagePayload(const std::string& body, int32_t nIndex, int32_t nType, TImageSummary* out) {
  if (body.empty()) return "empty answer (nothing loaded under this key or index)";
  if (body.size() < sizeof(TWImage)) return std::to_string(body.size()) + " bytes, shorter than the 64-byte record";
  TWImage rec;
  std::memcpy(&rec, body.data(), sizeof rec);
  uint32_t crc;
  std::memcpy(&crc, body.data() + offsetof(TWImage, WilInfo), sizeof crc);
  if (nType != 0 && rec.nType != nType) {
    return "record of library kind " + std::to_string(rec.nType) + " in a library of kind " + std::to_string(nType);
  }
  if (rec.nType != 1 && rec.nType != 3 && rec.nType != 4) return "record of unknown library kind " + std::to_string(rec.nType);
  if (rec.nSize < 0) return "record with a negative size " + std::to_string(rec.nSize);
  TImageSummary s;
  s.nType = rec.nType;
  s.nSize = rec.nSize;
  s.Crc = crc;
  s.nWidth = rec.nType == 1 ? rec.WzlInfo.nWidth : rec.JpkInfo.nWidth;
  s.nHeight = rec.nType == 1 ? rec.WzlInfo.nHeight : rec.JpkInfo.nHeight;
  const size_t bytes = body.size() - sizeof rec;
  if (rec.nSize == 0) {
    if (bytes != 0) return std::to_string(bytes) + " bytes after a record that carries none";
    if (crc != 0 && crc != CRC32Calc(0, "", 0)) return "checksum " + Hex32(crc) + " for no bytes";
    const bool stored = !AllZero(&rec.WzlInfo, sizeof rec.WzlInfo) || !AllZero(&rec.JpkInfo, sizeof rec.JpkInfo);
    s.Form = crc != 0 ? "full" : stored ? "empty" : "absent";
  } else {
    if (bytes != static_cast<size_t>(rec.nSize)) {
      return "record says " + std::to_string(rec.nSize) + " bytes, the answer carries " + std::to_string(bytes);
    }
    if (rec.nIndex != nIndex) return "record of image " + std::to_string(rec.nIndex) + " answers image " + std::to_string(nIndex);
    const uint32_t actual = CRC32Calc(0, body.data() + sizeof rec, static_cast<uint32_t>(bytes));
    if (actual != crc) return "CRC-32 of the bytes is " + Hex32(actual) + ", the record says " + Hex32(crc);
    s.Form = "full";
  }
  if (out) *out = s;
  return {};
}

std::string CheckHeaderPayload(const std::string& body, THeaderSummary* out) {
  if (body.empty()) return "empty answer (library not loaded)";
  if (body.size() < sizeof(TWMUpdateHeader)) return std::to_string(body.size()) + " bytes: no header block";
  TWMUpdateHeader head;
  std::memcpy(&head, body.data(), sizeof head);
  if (head.nVer != WClientVer) return "version " + std::to_string(head.nVer) + ", clients expect " + std::to_string(WClientVer);
  THeaderSummary s;
  s.nType = head.nType;
  s.nVer = head.nVer;
  const char* p = body.data() + sizeof head;
  const size_t left = body.size() - sizeof head;
  if (head.nType == 1) {
    if (left < sizeof(TWzlHeader) + sizeof(TWzlIndexHeader)) return "WZL header block of " + std::to_string(body.size()) + " bytes is too short";
    TWzlHeader wzl;
    std::memcpy(&wzl, p, sizeof wzl);
    const size_t index = left - sizeof wzl - sizeof(TWzlIndexHeader);
    if (index % 4 != 0) return "WZX index of " + std::to_string(index) + " bytes is no whole number of positions";
    const int64_t held = static_cast<int64_t>(index / 4);
    s.ImageCount = static_cast<int32_t>(wzl.ImageCount < 0 ? held : std::min<int64_t>(wzl.ImageCount, held));
    s.IndexBytes = index;
    s.Positions.resize(static_cast<size_t>(s.ImageCount));
    std::memcpy(s.Positions.data(), p + sizeof wzl + sizeof(TWzlIndexHeader), s.Positions.size() * 4);
  } else if (head.nType == 3 || head.nType == 4) {
    if (left < sizeof(TJpkHeader)) return "JPK header block of " + std::to_string(body.size()) + " bytes is too short";
    TJpkHeader jpk;
    std::memcpy(&jpk, p, sizeof jpk);
    const std::string_view title(jpk.Title, std::min<size_t>(jpk.TitleLen, sizeof jpk.Title));
    if (title.find(ANSTR) == std::string_view::npos) return "JPK header is not deciphered (title \"" + std::string(title) + "\")";
    const std::string_view index(p + sizeof jpk, left - sizeof jpk);
    const size_t entry = head.nType == 4 ? sizeof(TIndexHash) : 4;
    if (index.size() % entry != 0) return "JPK index of " + std::to_string(index.size()) + " bytes is no whole number of entries";
    s.ImageCount = static_cast<int32_t>(std::min<uint64_t>(jpk.ImageCount, index.size() / entry));
    s.IndexBytes = index.size();
    s.Positions.resize(static_cast<size_t>(s.ImageCount));
    for (size_t i = 0; i < s.Positions.size(); ++i) std::memcpy(&s.Positions[i], index.data() + i * entry, 4);
    s.IndexHash = MD5Print(MD5String(index));
  } else {
    return "header of unknown library kind " + std::to_string(head.nType);
  }
  if (out) *out = s;
  return {};
}

bool IndexStoresImage(const THeaderSummary& header, int32_t nIndex) {
  // Positions below the readers' thresholds (16 WZL, 20 JPK) stand for absent images.
  const int32_t threshold = header.nType == 1 ? 16 : 20;
  return nIndex >= 0 && static_cast<size_t>(nIndex) < header.Positions.size() && header.Positions[nIndex] >= threshold;
}

std::string CheckStreamPayload(const std::string& body, std::string* inflated) {
  if (body.empty()) return "empty answer (file not loaded)";
  std::optional<std::string> file = ZlibInflate(body);
  if (!file) return "answer of " + std::to_string(body.size()) + " bytes is not a zlib stream";
  if (inflated) *inflated = std::move(*file);
  return {};
}

std::string CheckIndexTable(const std::string& body, std::vector<std::pair<std::string, std::string>>* rows) {
  std::optional<std::string> text = ZlibInflate(body);
  if (!text) return "answer of " + std::to_string(body.size()) + " bytes is not a zlib stream";
  std::vector<std::pair<std::string, std::string>> found;
  size_t at = 0;
  while (at < text->size()) {
    const size_t end = text->find("\r\n", at);
    if (end == std::string::npos) return "last line has no CR LF";
    const std::string line = text->substr(at, end - at);
    at = end + 2;
    const size_t bar = line.rfind('|');
    const std::string hash = bar == std::string::npos ? std::string() : line.substr(bar + 1);
    if (bar == std::string::npos || bar == 0 || hash.size() != 32 ||
        hash.find_first_not_of("0123456789abcdef") != std::string::npos) {
      return "malformed line \"" + Utf8FromAnsi(line) + "\"";
    }
    found.emplace_back(line.substr(0, bar), hash);
  }
  if (rows) *rows = std::move(found);
  return {};
}

// ---- Whole deployments ----

TDeployment ReadDeployment(const std::string& folder) {
  CheckDirectoryReadable(folder);
  const auto file = [&folder](const std::string& name) { return folder + "/" + name; };
  const TSetupValues setup = ReadConfigFile(file(g_sConfigFile));
  std::string searchDir = setup.SearchDir;
  while (!searchDir.empty() && (searchDir.back() == '\\' || searchDir.back() == '/')) searchDir.pop_back();
  TNameValueList jpkList;  // a name listed twice keeps its first place, as the server's list does
  for (const TNameValue& p : ReadJpkListFile(file(g_sFileJpk))) jpkList.SetValue(p.Name, p.Value);

  TDeployment d;
  d.Folder = folder;
  d.HasSettings = FileExists(file(g_sConfigFile));
  d.WClientPass = setup.WClientPass;
  d.Port = setup.Port;
  auto add = [&](const std::string& path, int nType, bool jpk) {
    if (path.empty()) return;
    d.Resources.push_back({AnsiFromUtf8(CatalogueKeyText(path, searchDir)), path, nType, jpk});
  };
  for (const TNameValue& p : jpkList.Items()) add(p.Name, kTypeImage, true);
  for (const std::string& p : ReadLibListFile(file(g_sFileWzl))) add(p, kTypeImage, false);
  for (const std::string& p : ReadLibListFile(file(g_sFileMap))) add(p, kTypeMap, false);
  for (const std::string& p : ReadLibListFile(file(g_sFileWav))) add(p, kTypeWav, false);
  return d;
}

std::vector<int32_t> SampleIndices(int32_t imageCount, int count) {
  std::vector<int32_t> out;
  if (imageCount <= 0 || count == 0) return out;
  if (count < 0 || count >= imageCount) {
    for (int32_t i = 0; i < imageCount; ++i) out.push_back(i);
    return out;
  }
  if (count == 1) return {0};
  for (int i = 0; i < count; ++i) {
    const auto idx = static_cast<int32_t>(int64_t{i} * (imageCount - 1) / (count - 1));
    if (out.empty() || out.back() != idx) out.push_back(idx);
  }
  return out;
}

namespace {

std::string Target(const TWClientConnection& conn, const TDeployment& d, const TWClientResource& r, const std::string& image) {
  std::string dir, lib;
  SplitCatalogueKey(r.Key, dir, lib);
  std::string plain = dir + "|" + lib;
  if (!image.empty()) plain += "|" + image;
  return conn.Prefix() + WClientToken(d.WClientPass, plain) + "/" + std::to_string(r.nType) + ".html";
}

std::string Answered(const TWClientAnswer& a) {
  if (!a.Error.empty()) return a.Error;
  if (a.Status != 200) return RefusalText(a);
  return {};
}

std::string KindText(int32_t nType) { return nType == 1 ? "WZL" : nType == 3 ? "JPK" : "JPK v2"; }

// Verdict text of a library, or the reason it fails.
std::string CheckLibrary(TWClientConnection& conn, const TDeployment& d, const TWClientResource& r,
                         const std::map<std::string, std::string>* indexRows, int samples, bool& ok) {
  ok = false;
  const TWClientAnswer header = conn.Get(Target(conn, d, r, "Header"));
  if (std::string why = Answered(header); !why.empty()) return "header: " + why;
  THeaderSummary h;
  if (std::string why = CheckHeaderPayload(header.Body, &h); !why.empty()) return "header: " + why;
  if (r.Jpk && h.nType != 1 && indexRows) {
    auto row = indexRows->find(r.Key);
    if (row == indexRows->end()) return "missing from the index table";
    if (row->second != h.IndexHash) return "index table lists " + row->second + ", the header's index hashes to " + h.IndexHash;
  }
  std::map<std::string, int> forms;
  const std::vector<int32_t> indices = SampleIndices(h.ImageCount, samples);
  for (int32_t i : indices) {
    const TWClientAnswer image = conn.Get(Target(conn, d, r, std::to_string(i)));
    if (std::string why = Answered(image); !why.empty()) return "image " + std::to_string(i) + ": " + why;
    TImageSummary s;
    if (std::string why = CheckImagePayload(image.Body, i, h.nType, &s); !why.empty()) return "image " + std::to_string(i) + ": " + why;
    if (s.Form == "absent" && IndexStoresImage(h, i)) {
      return "image " + std::to_string(i) + ": answered absent, but the index places it at byte " +
             std::to_string(h.Positions[i]) + " (is the library file shorter than its index?)";
    }
    ++forms[s.Form];
  }
  ok = true;
  std::string text = KindText(h.nType) + " library, " + std::to_string(h.ImageCount) + " images, header " +
                     std::to_string(header.Body.size()) + " bytes; " + std::to_string(indices.size()) + " images checked (";
  bool first = true;
  for (const auto& [form, n] : forms) {
    text += (first ? "" : ", ") + std::to_string(n) + " " + form;
    first = false;
  }
  return text + ")";
}

std::string CheckFile(TWClientConnection& conn, const TDeployment& d, const TWClientResource& r, bool& ok) {
  ok = false;
  const TWClientAnswer a = conn.Get(Target(conn, d, r, ""));
  if (std::string why = Answered(a); !why.empty()) return why;
  std::string file;
  if (std::string why = CheckStreamPayload(a.Body, &file); !why.empty()) return why;
  std::string text = std::to_string(file.size()) + " bytes as a zlib stream of " + std::to_string(a.Body.size());
  try {
    if (ReadFileBytes(r.Path) != file) return text + ", different from the file on disk";
    text += ", same as the file on disk";
  } catch (const EInOutError&) {
    text += " (file on disk not readable here)";
  }
  ok = true;
  return text;
}

}  // namespace

std::vector<std::string> DeploymentTargets(TWClientConnection& conn, const TDeployment& deployment, int samples) {
  std::vector<std::string> targets;
  for (const TWClientResource& r : deployment.Resources) {
    std::string dir, lib;
    if (!SplitCatalogueKey(r.Key, dir, lib)) continue;
    if (r.nType != kTypeImage) {
      targets.push_back(Target(conn, deployment, r, ""));
      continue;
    }
    const std::string header = Target(conn, deployment, r, "Header");
    targets.push_back(header);
    THeaderSummary h;
    const TWClientAnswer a = conn.Get(header);
    if (!Answered(a).empty() || !CheckHeaderPayload(a.Body, &h).empty()) continue;
    for (int32_t i : SampleIndices(h.ImageCount, samples)) targets.push_back(Target(conn, deployment, r, std::to_string(i)));
  }
  return targets;
}

int CheckDeployment(TWClientConnection& conn, const TDeployment& deployment, int samples,
                    const std::function<void(const std::string&)>& out) {
  int failures = 0, items = 0;
  auto verdict = [&](bool ok, const std::string& name, const std::string& text) {
    out((ok ? "OK   " : "FAIL ") + name + ": " + text);
    ++items;
    if (!ok) ++failures;
  };

  // A token of its own, so that no client's throttle and no earlier check is in the way.
  std::random_device rd;
  const std::string token = "nuvoclient-check-" + std::to_string(rd()) + std::to_string(rd());
  if (!deployment.HasSettings) {
    verdict(false, "settings", "no Config.ini in " + deployment.Folder + ": a server there serves the defaults");
  }
  const TWClientAnswer table = conn.Get(conn.Prefix() + token + "/check-indexes");
  if (!table.Error.empty()) {
    verdict(false, "server", table.Error);
    return failures;
  }
  std::vector<std::pair<std::string, std::string>> rows;
  std::string why = Answered(table);
  if (why.empty()) why = CheckIndexTable(table.Body, &rows);
  verdict(why.empty(), "index table", why.empty() ? std::to_string(rows.size()) + " JPK libraries listed" : why);
  const std::map<std::string, std::string> indexRows(rows.begin(), rows.end());

  for (const TWClientResource& r : deployment.Resources) {
    const std::string name = Utf8FromAnsi(r.Key);
    std::string dir, lib;
    bool ok = false;
    std::string text;
    if (!SplitCatalogueKey(r.Key, dir, lib)) {
      text = "no directory below the client directory, so no request can name it (" + r.Path + ")";
    } else if (!FileExists(r.Path)) {
      text = "listed file does not exist: " + r.Path;
    } else if (r.nType == kTypeImage) {
      text = CheckLibrary(conn, deployment, r, why.empty() ? &indexRows : nullptr, samples, ok);
    } else {
      text = CheckFile(conn, deployment, r, ok);
    }
    verdict(ok, name, text);
  }
  out(std::to_string(items) + " checked, " + std::to_string(failures) + " failed");
  return failures;
}
