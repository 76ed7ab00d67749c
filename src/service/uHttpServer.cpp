#include "service/uHttpServer.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/AsciiText.h"
#include "catalogue/uGameLib.h"
#include "formats/MD5.h"
#include "formats/ZStream.h"
#include "settings/HUtil32.h"
#include "settings/TarnShare.h"

#include <algorithm>
#include <ctime>

void TWorkLog::LogsOut(const std::string& msg) {
  const std::string line = AnsiFromUtf8(NowDateTimeText() + " " + msg + "\r\n");
  std::lock_guard<std::mutex> hold(FLock);
  AppendFileBytes(WorkLogsFile, line);
}

std::string GetErrorMsg(int32_t nCode) {
  std::string page = std::string("</table></p><p><i>Powered by ") + kVendorHost + " <strong>\r\n";
  if (nCode != 0) page += "Error Code: " + std::to_string(nCode) + "\r\n";
  page += std::string("</strong></i> - <a href=") + kVendorUrl + ">" + kVendorUrl + "/</a></p></body></html>\r\n";
  return AnsiFromUtf8(page);
}

namespace {

constexpr char kContentType[] = "text/html; charset=UTF-8";
// Entries the throttle map may gain before expired ones are swept out.
constexpr size_t kSweepGrowth = 4096;

// Escaped after the conversion: a lead byte followed by a control byte becomes "?" there, so it
// cannot swallow the backslash of the escape.
std::string WorkLogText(const std::string& bytes) { return EscapeControlBytes(Utf8FromAnsi(bytes)); }

// Removes the extension: everything from the last "." on, unless a separator follows it.
std::string StripExtension(const std::string& s) {
  const size_t p = s.find_last_of(".\\:/");
  return (p != std::string::npos && s[p] == '.') ? s.substr(0, p) : s;
}

std::string AfterLastSeparator(const std::string& s) {
  const size_t p = s.find_last_of("\\:/");
  return p == std::string::npos ? s : s.substr(p + 1);
}

}  // namespace

std::string EscapeControlBytes(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

TNuvoHttpServer::TNuvoHttpServer(std::shared_ptr<TGameLib> GameLib, TTickSource Tick,
                                 THttpServerLimits Limits)
    : FGameLib(std::move(GameLib)),
      FTick(Tick ? std::move(Tick) : TTickSource(GetTickCount64)),
      FWorkLog("./Logs/" + DateTimeStamp(std::time(nullptr)) + ".log"),
      FBodies(Limits.BodyCacheBytes),
      FSweepAt(kSweepGrowth) {
  g_boStart = false;
  CompressIndexesTables = FGameLib ? FGameLib->GetIndexes() : ZlibCompress("", 4);
  FIndexBody = std::make_shared<THttpBody>(CompressIndexesTables, RawDeflate(CompressIndexesTables, 1));
  NuvoServer = std::make_unique<THttpApiServer>(Limits);
  {
    std::lock_guard hold(g_ConfigLock);  // the settings dialog may be saving a new password
    KeyPassBytes = MD5String(g_sWClientPass);
  }
  if (!DirectoryExists("./Logs")) ForceDirectories("./Logs");
}

TNuvoHttpServer::~TNuvoHttpServer() {
  g_boStart = false;
  NuvoServer.reset();
}

bool TNuvoHttpServer::Open() {
  const uint16_t port = g_nServerPort;
  if (port == 0) {
    // Binding port 0 would serve on a port nobody configured.
    MainOutMessage("微端服务器启动异常！[port 0: " + AddUrlErrorText(-1) + "]");
    return false;
  }
  try {
    // Megabytes to bytes per second, in 32 bits as the front end takes it.
    NuvoServer->SetMaxBandwidth(static_cast<uint32_t>(g_nMaxBandwidth.load()) << 20);
    const int rc = NuvoServer->AddUrl("wclientdat", std::to_string(port), false, "+", true, 0);
    NuvoServer->RegisterCompress(CompressDeflate, 1024);
    NuvoServer->SetOnRequest([this](THttpServerRequest& c) { return Process(c); });
    NuvoServer->SetOnRequestInline([this](THttpServerRequest& c) { return ProcessInMemory(c); });
    NuvoServer->Clone(31);
    std::string url = NuvoServer->GetRegisteredUrl();
    for (size_t p = url.find('+'); p != std::string::npos; p = url.find('+', p)) url.replace(p, 1, "127.0.0.1");
    g_sWClientUrl = url;
    if (url.empty()) {
      // Nothing listens: a failed start, not a running service.
      MainOutMessage("微端服务器启动异常！[port " + std::to_string(port) + ": " + AddUrlErrorText(rc) + "]");
      return false;
    }
    MainOutMessage("微端服务器启动完毕！[" + std::to_string(port) + "]");
    g_boStart = true;
    return true;
  } catch (const std::exception& e) {
    MainOutMessage(std::string("微端服务器启动异常！[") + e.what() + "]");
    return g_boStart;
  }
}

size_t TNuvoHttpServer::CheckIndexesCount() const {
  std::lock_guard hold(FCheckLock);
  return CheckIndexesTime.size();
}

uint32_t TNuvoHttpServer::Refuse(THttpServerRequest& Ctxt, int32_t nCode, const std::string& logLine) {
  LogsOut(logLine);  // before the counter: a failed write leaves the request uncounted
  ++g_nDataRead404;
  Ctxt.OutContent = GetErrorMsg(nCode);
  Ctxt.OutContentType = kContentType;
  return 404;
}

void TNuvoHttpServer::SweepCheckIndexes(int64_t now) {
  // An entry older than the interval throttles nothing, so dropping it changes no answer.
  for (auto it = CheckIndexesTime.begin(); it != CheckIndexesTime.end();) {
    it = (now - it->second >= kCheckIndexesInterval) ? CheckIndexesTime.erase(it) : std::next(it);
  }
  // Growing the threshold with the live entries keeps the sweeps' cost per request constant.
  FSweepAt = CheckIndexesTime.size() + std::max(CheckIndexesTime.size(), kSweepGrowth);
}

uint32_t TNuvoHttpServer::AnswerCheckIndexes(THttpServerRequest& Ctxt, const std::string& sEncode) {
  const int64_t now = static_cast<int64_t>(FTick());
  {
    std::lock_guard hold(FCheckLock);
    auto it = CheckIndexesTime.find(sEncode);
    if (it != CheckIndexesTime.end() && now - it->second < kCheckIndexesInterval) {
      Ctxt.OutContent = GetErrorMsg(-99);
      Ctxt.OutContentType = kContentType;
      return 404;
    }
    if (it != CheckIndexesTime.end()) {
      it->second = now;
    } else {
      CheckIndexesTime.emplace(sEncode, now);
      if (CheckIndexesTime.size() >= FSweepAt) SweepCheckIndexes(now);
    }
  }
  Ctxt.OutBody = FIndexBody;
  Ctxt.OutContentType = kContentType;
  return 200;
}

uint32_t TNuvoHttpServer::Process(THttpServerRequest& Ctxt) { return Answer(Ctxt, true); }

uint32_t TNuvoHttpServer::ProcessInMemory(THttpServerRequest& Ctxt) { return Answer(Ctxt, false); }

// The body of an image or header request: kept from an earlier request of the same catalogue state,
// or read from the library (only when `mayBlock`; nothing otherwise).
THttpBodyRef TNuvoHttpServer::ImageBody(const std::string& key, const std::string& sImage, bool mayBlock) {
  const uint64_t generation = FGameLib->Generation();  // before the lookup: a later change makes this entry stale
  std::string cacheKey = key;
  cacheKey += '|';
  cacheKey += sImage;
  if (THttpBodyRef kept = FBodies.Find(cacheKey, generation)) return kept;
  if (!mayBlock) {
    if (FGameLib->GetLib(key)) return nullptr;
    static const THttpBodyRef kEmpty = std::make_shared<THttpBody>(std::string());
    return kEmpty;  // no such library: nothing to read
  }
  auto body = std::make_shared<const THttpBody>(FGameLib->GetDataImageBuff(key, sImage));
  FBodies.Insert(cacheKey, generation, body);
  return body;
}

uint32_t TNuvoHttpServer::Answer(THttpServerRequest& Ctxt, bool mayBlock) {
  const std::string& url = Ctxt.URL;
  // Refusals write the work log: a file, so never on an event loop.
  if (url.empty()) return mayBlock ? Refuse(Ctxt, -1, "异常访问") : kHttpNeedsWorker;

  std::string sHeader, sEncode, sType;
  std::string rest = GetValidStr32(url, sHeader, "/");
  rest = GetValidStr32(rest, sEncode, "/");
  GetValidStr32(rest, sType, "/");

  const bool isRoot = SameTextAscii(sHeader, "wclientdat");
  if (isRoot && !sEncode.empty() && sType == "check-indexes") return AnswerCheckIndexes(Ctxt, sEncode);

  if (!isRoot || sEncode.empty() || sType.empty() || sType.find(".html") == std::string::npos) {
    return mayBlock ? Refuse(Ctxt, -2, "错误格式：" + WorkLogText(url)) : kHttpNeedsWorker;
  }
  const int32_t nType = Str_ToInt(StripExtension(sType), 0);
  if (nType < 1 || nType > 5) {
    return mayBlock ? Refuse(Ctxt, -3, "错误资源：" + WorkLogText(url) + "/" + std::to_string(nType)) : kHttpNeedsWorker;
  }

  const std::string sDecrypt = SimpleDeStringMsg(sEncode, KeyPassBytes);
  std::string sDir, sLib, sImage;
  rest = GetValidStr32(sDecrypt, sDir, "|");
  rest = GetValidStr32(rest, sLib, "|");
  GetValidStr32(rest, sImage, "|");
  if (sDir.empty() || sLib.empty()) {
    return mayBlock ? Refuse(Ctxt, -4, "解密失败：" + WorkLogText(url) + "/" + WorkLogText(sDecrypt)) : kHttpNeedsWorker;
  }

  uint32_t status = 0;
  THttpBodyRef body;
  const std::string key = "\\" + sDir + "\\" + sLib;
  if (nType <= 2) {
    if (!sImage.empty()) {
      body = FGameLib ? ImageBody(key, AfterLastSeparator(StripExtension(sImage)), mayBlock) : nullptr;
      if (FGameLib && !body) return kHttpNeedsWorker;
      status = 200;
    }
  } else {
    std::shared_ptr<const TNuvoBuffer> entry;
    if (FGameLib) entry = nType == 3 ? FGameLib->GetMap(key) : FGameLib->GetWav(key);
    // The stored bytes themselves, shared with every answer that sends them.
    if (entry) body = std::make_shared<const THttpBody>(entry, std::string_view(entry->Buffer).substr(0, size_t(entry->nSize)), entry->Deflated);
    status = 200;
  }
  const size_t size = body ? body->Plain().size() : 0;
  g_nDataSec += size;
  g_nDataSend += size;
  ++g_nDataRead;
  if (status == 200) {
    Ctxt.OutBody = std::move(body);
    Ctxt.OutContentType = kContentType;
  }
  return status;
}
