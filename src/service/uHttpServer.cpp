#include "service/uHttpServer.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/AsciiText.h"
#include "catalogue/uGameLib.h"
#include "formats/MD5.h"
#include "formats/ZStream.h"
#include "platform/HUtil32.h"
#include "settings/TarnShare.h"
#include "service/FrontEndCoding.h"
#include "service/Metrics.h"
#include "service/ServiceState.h"

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

}  // namespace

TServiceSettings CurrentServiceSettings() {
  std::lock_guard hold(g_ConfigLock);
  return {g_sWClientPass, g_nServerPort.load(), g_nMaxBandwidth.load(), "+"};
}

TNuvoHttpServer::TNuvoHttpServer(std::shared_ptr<TGameLib> GameLib, const TServiceSettings& Settings,
                                 TTickSource Tick, THttpServerLimits Limits)
    : FGameLib(std::move(GameLib)),
      FSettings(Settings),
      FTick(Tick ? std::move(Tick) : TTickSource(GetTickCount64)),
      FWorkLog("./Logs/" + DateTimeStamp(std::time(nullptr)) + ".log"),
      FBodies(Limits.BodyCacheBytes, [this](uint64_t since) { return StaleLibraryBodies(since); }),
      FSweepAt(kSweepGrowth) {
  g_boStart = false;
  CompressIndexesTables = FGameLib ? FGameLib->GetIndexes() : ZlibCompress("", 4);
  FIndexBody = std::make_shared<THttpBody>(CompressIndexesTables, RawDeflate(CompressIndexesTables, 1));
  NuvoServer = std::make_unique<THttpApiServer>(Limits);
  NuvoServer->SetEntityTagger(EntityTag);
  NuvoServer->SetOnResponse([](const THttpResponseInfo& r) { CountResponse(r.RawBytes, r.SentBytes, r.Duration); });
  KeyPassBytes = MD5String(Settings.WClientPass);
  if (!DirectoryExists("./Logs")) ForceDirectories("./Logs");
}

TNuvoHttpServer::~TNuvoHttpServer() {
  g_boStart = false;
  NuvoServer.reset();
}

std::string TNuvoHttpServer::Open(const TServiceSettings& Settings) {
  const uint16_t port = Settings.Port;
  if (port == 0) {
    // Binding port 0 would serve on a port nobody configured.
    MainOutMessage("微端服务器启动异常！[port 0: " + AddUrlErrorText(-1) + "]");
    return {};
  }
  try {
    // Megabytes to bytes per second, in 32 bits as the front end takes it.
    NuvoServer->SetMaxBandwidth(static_cast<uint32_t>(Settings.MaxBandwidth) << 20);
    const int rc = NuvoServer->AddUrl("wclientdat", std::to_string(port), false, Settings.ListenHost, true, 0);
    NuvoServer->RegisterCompress(CompressDeflate, 1024);
    NuvoServer->SetOnRequest([this](THttpServerRequest& c) { return Process(c); });
    NuvoServer->SetOnRequestInline([this](THttpServerRequest& c) { return ProcessInMemory(c); });
    NuvoServer->Clone(31);
    std::string url = NuvoServer->GetRegisteredUrl();
    for (size_t p = url.find('+'); p != std::string::npos; p = url.find('+', p)) url.replace(p, 1, "127.0.0.1");
    if (url.empty()) {
      // Nothing listens: a failed start, not a running service.
      MainOutMessage("微端服务器启动异常！[port " + std::to_string(port) + ": " + AddUrlErrorText(rc) + "]");
      return {};
    }
    MainOutMessage("微端服务器启动完毕！[" + std::to_string(port) + "]");
    FUrl = std::move(url);
    g_boStart = true;
    return FUrl;
  } catch (const std::exception& e) {
    MainOutMessage(std::string("微端服务器启动异常！[") + e.what() + "]");
    return g_boStart ? FUrl : std::string();
  }
}

size_t TNuvoHttpServer::CheckIndexesCount() const {
  std::lock_guard hold(FCheckLock);
  return CheckIndexesTime.size();
}

uint32_t TNuvoHttpServer::Refuse(THttpServerRequest& Ctxt, int32_t nCode, const std::string& logLine) {
  LogsOut(logLine);  // before the counter: a failed write leaves the request uncounted
  ++g_nDataRead404;
  CountRequest(TWClientRequestKind::Refused, RefusalOutcome(nCode));
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
      CountRequest(TWClientRequestKind::CheckIndexes, TRequestOutcome::TooSoon);
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
  CountRequest(TWClientRequestKind::CheckIndexes, TRequestOutcome::Answered);
  Ctxt.OutBody = FIndexBody;
  Ctxt.OutContentType = kContentType;
  return 200;
}

uint32_t TNuvoHttpServer::Process(THttpServerRequest& Ctxt) {
  try {
    return Answer(Ctxt, true);
  } catch (const std::exception& e) {
    LogHandlerError(Ctxt.URL, e);
    throw;  // the front end answers 500, with a page that names no detail
  }
}

uint32_t TNuvoHttpServer::ProcessInMemory(THttpServerRequest& Ctxt) {
  try {
    return Answer(Ctxt, false);
  } catch (const std::exception& e) {
    LogHandlerError(Ctxt.URL, e);
    throw;
  }
}

void TNuvoHttpServer::LogHandlerError(const std::string& url, const std::exception& e) {
  // Any client can make a broken work log fail request after request: the same failure is told
  // once per interval, not once per request.
  const int64_t now = static_cast<int64_t>(FTick());
  {
    std::lock_guard hold(FErrorLock);
    if (FLastError == e.what() && now - FLastErrorTick < kErrorLogInterval) return;
    FLastError = e.what();
    FLastErrorTick = now;
  }
  MainOutMessage("[Exception] TNuvoHttpServer::Process " + EscapeControlBytes(Utf8FromAnsi(url)) + " " +
                 EscapeControlBytes(e.what()));
}

// Kept bodies are keyed "<library key>|H" and "<library key>|<image>" (maps and wavs "M|", "W|").
std::optional<std::vector<std::string>> TNuvoHttpServer::StaleLibraryBodies(uint64_t since) const {
  if (!FGameLib) return std::nullopt;
  std::optional<std::vector<std::string>> keys = FGameLib->LibrariesChangedSince(since);
  if (keys) {
    for (std::string& key : *keys) key += '|';
  }
  return keys;
}

// The body of a header or image request: kept from an earlier request of the same catalogue
// state, or read from the library. Without `mayBlock` only an image read that needs no wait (the
// page cache holds it) is done; nothing comes back otherwise.
THttpBodyRef TNuvoHttpServer::LibraryBody(const TWClientRequest& request, bool mayBlock) {
  const bool header = request.Kind == TWClientRequestKind::Header;
  const uint64_t generation = FGameLib->Generation();  // before the lookup: a later change makes this entry stale
  std::string cacheKey = request.Key;
  cacheKey += header ? "|H" : "|" + std::to_string(request.nIndex);
  if (THttpBodyRef kept = FBodies.Find(cacheKey, generation)) return kept;
  std::string bytes;
  if (!mayBlock) {
    if (!FGameLib->GetLib(request.Key)) {
      static const THttpBodyRef kEmpty = std::make_shared<THttpBody>(std::string());
      return kEmpty;  // no such library: nothing to read
    }
    std::optional<std::string> read;
    if (!header) read = FGameLib->GetImageBuffNoWait(request.Key, request.nIndex);
    if (!read) return nullptr;
    bytes = std::move(*read);
  } else {
    bytes = header ? FGameLib->GetHeaderBuff(request.Key) : FGameLib->GetImageBuff(request.Key, request.nIndex);
  }
  auto body = std::make_shared<const THttpBody>(std::move(bytes));
  FBodies.Insert(cacheKey, generation, body);
  return body;
}

// The body of a map or wav request: the stored bytes themselves, in one body per file and
// catalogue state, so that its tag is made once and not on every request.
THttpBodyRef TNuvoHttpServer::StoredFileBody(const TWClientRequest& request) {
  const bool map = request.Kind == TWClientRequestKind::Map;
  const uint64_t generation = FGameLib->Generation();  // before the lookup, as for library bodies
  const std::string cacheKey = (map ? "M|" : "W|") + request.Key;
  if (THttpBodyRef kept = FBodies.Find(cacheKey, generation)) return kept;
  const std::shared_ptr<const TNuvoBuffer> entry = map ? FGameLib->GetMap(request.Key) : FGameLib->GetWav(request.Key);
  if (!entry) return nullptr;
  auto body = std::make_shared<const THttpBody>(entry, std::string_view(entry->Buffer).substr(0, size_t(entry->nSize)),
                                                entry->Deflated);
  FBodies.Insert(cacheKey, generation, body);
  return body;
}

uint32_t TNuvoHttpServer::Answer(THttpServerRequest& Ctxt, bool mayBlock) {
  const TWClientRequest request = ParseWClientRequest(Ctxt.URL, KeyPassBytes);
  THttpBodyRef body;
  switch (request.Kind) {
    case TWClientRequestKind::Refused:
      // Refusals write the work log: a file, so never on an event loop.
      return mayBlock ? Refuse(Ctxt, request.nCode, request.LogLine) : kHttpNeedsWorker;
    case TWClientRequestKind::CheckIndexes:
      return AnswerCheckIndexes(Ctxt, request.Token);
    case TWClientRequestKind::NoImageField:
      break;
    case TWClientRequestKind::Header:
    case TWClientRequestKind::Image:
      if (FGameLib && !(body = LibraryBody(request, mayBlock))) return kHttpNeedsWorker;
      break;
    case TWClientRequestKind::Map:
    case TWClientRequestKind::Wav:
      if (FGameLib) body = StoredFileBody(request);
      break;
  }
  const size_t size = body ? body->Plain().size() : 0;
  g_nDataSec += size;
  g_nDataSend += size;
  ++g_nDataRead;  // a request without an image field is counted too
  CountRequest(request.Kind, request.Kind == TWClientRequestKind::NoImageField ? TRequestOutcome::NoImageField
                             : size == 0 ? TRequestOutcome::Empty : TRequestOutcome::Answered);
  if (request.Kind == TWClientRequestKind::NoImageField) return 400;
  Ctxt.OutBody = std::move(body);
  Ctxt.OutContentType = kContentType;
  return 200;
}
