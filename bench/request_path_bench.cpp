// Where the processor time of one answered request goes in user space, step by step, on the demo
// installation: parsing the request into the context, the answer of the request service on the
// event loop (kept image, map, index table) or on a worker (image read from its library, as every
// image was before bodies were kept), the response head, and the content coding made per request
// against the coded form kept in the body. The kernel's share (receive, send, wake-ups) is what
// bench/e2e_load.sh's processor time per request adds on top of these.
#include <utility>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/ProgramSettings.h"
#include "catalogue/uGameLib.h"
#include "support/DemoData.h"
#include "formats/MD5.h"
#include "formats/ZStream.h"
#include "http/HttpApiWire.h"
#include "service/FrontEndCoding.h"
#include "service/uHttpServer.h"
#include "service/RequestToken.h"
#include "settings/TarnShare.h"
#include "support/TempDir.h"

namespace {

struct TDemoService {
  TDemoService() : Dir(false) {
    std::filesystem::current_path(Dir.Path());  // the service writes ./Logs
    Demo = WriteDemoData(Dir.PathOf("demo"), 8800);
    g_sSearchDir = Demo.ClientDir;
    g_sWClientPass = Demo.WClientPass;
    for (const auto& lib : Demo.Libraries) {
      if (lib.Mode == TImageMode::Tarn2Wzl) g_WzlList.push_back(lib.Path);
      else g_JpkList.SetValue(lib.Path, lib.PassWord);
    }
    for (const auto& f : Demo.Maps) g_MapList.push_back(f.Path);
    for (const auto& f : Demo.Wavs) g_WavList.push_back(f.Path);
    Lib = std::make_shared<TGameLib>(true, OperatorLog());
    Lib->LoadGameLib(LoadListsOfSettings());
    Kept = std::make_unique<TNuvoHttpServer>(Lib, ServiceSettingsOfSettings(), OperatorLog());
    THttpServerLimits noCache;
    noCache.BodyCacheBytes = 0;
    Uncached = std::make_unique<TNuvoHttpServer>(Lib, ServiceSettingsOfSettings(), OperatorLog(), nullptr, noCache);
    Key = MD5String(g_sWClientPass);
  }
  std::string Target(const std::string& plain, const char* type) const {
    return "/wclientdat/" + SimpleEnStringMsg(plain, Key) + "/" + type;
  }
  std::string ImageTarget() const {
    const auto& lib = Demo.Libraries.front();
    const std::string key = lib.Key.substr(1);  // "data\hum.wzl" -> dir "data", file "hum.wzl"
    const auto cut = key.find('\\');
    return Target(key.substr(0, cut) + "|" + key.substr(cut + 1) + "|3", "1.html");
  }
  std::string MapTarget() const {
    const std::string key = Demo.Maps.front().Key.substr(1);
    const auto cut = key.rfind('\\');
    return Target(key.substr(0, cut) + "|" + key.substr(cut + 1), "3.html");
  }

  TempDir Dir;
  TDemoData Demo;
  std::shared_ptr<TGameLib> Lib;
  std::unique_ptr<TNuvoHttpServer> Kept, Uncached;
  std::array<uint8_t, 16> Key{};
};

TDemoService& Service() {
  static TDemoService service;
  return service;
}

void BM_ParseRequestIntoContext(benchmark::State& state) {
  const std::string bytes = "GET " + Service().ImageTarget() + " HTTP/1.1\r\nHost: 127.0.0.1:8800\r\n\r\n";
  THttpServerRequest ctxt;
  for (auto _ : state) {
    THttpRequestParser parser;
    LimitRequestParser(parser, {});
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(bytes), ec);
    FillRequestContext(parser.get(), "127.0.0.1", ctxt);
    benchmark::DoNotOptimize(ctxt.URL.data());
  }
}
BENCHMARK(BM_ParseRequestIntoContext);

template <bool inMemory>
void Answer(benchmark::State& state, TNuvoHttpServer& server, const std::string& target) {
  THttpServerRequest ctxt;
  for (auto _ : state) {
    ctxt.URL = target;
    const uint32_t status = inMemory ? server.ProcessInMemory(ctxt) : server.Process(ctxt);
    benchmark::DoNotOptimize(status);
    ctxt.OutBody.reset();
  }
}

std::string ImageBody() {
  THttpServerRequest ctxt;
  ctxt.URL = Service().ImageTarget();
  Service().Kept->Process(ctxt);
  return std::string(ResponseBody(ctxt));
}

void BM_AnswerKeptImageOnTheLoop(benchmark::State& state) {
  ImageBody();  // made once and kept
  Answer<true>(state, *Service().Kept, Service().ImageTarget());
}
BENCHMARK(BM_AnswerKeptImageOnTheLoop);

void BM_AnswerImageReadFromItsLibrary(benchmark::State& state) {
  Answer<false>(state, *Service().Uncached, Service().ImageTarget());
}
BENCHMARK(BM_AnswerImageReadFromItsLibrary);

void BM_AnswerMapOnTheLoop(benchmark::State& state) { Answer<true>(state, *Service().Kept, Service().MapTarget()); }
BENCHMARK(BM_AnswerMapOnTheLoop);

void BM_AnswerIndexTableOnTheLoop(benchmark::State& state) {
  // A new token each time: the same one is refused for five minutes.
  THttpServerRequest ctxt;
  uint64_t n = 0;
  for (auto _ : state) {
    ctxt.URL = "/wclientdat/" + std::to_string(++n) + "/check-indexes";
    benchmark::DoNotOptimize(Service().Kept->ProcessInMemory(ctxt));
    ctxt.OutBody.reset();
  }
}
BENCHMARK(BM_AnswerIndexTableOnTheLoop);

void BM_ResponseHead(benchmark::State& state) {
  TResponseHead head;
  head.ContentType = "text/html; charset=UTF-8";
  head.AcceptEncodingNames = "deflate";
  head.ContentLength = 6755;
  for (auto _ : state) benchmark::DoNotOptimize(BuildResponseHead(head));
}
BENCHMARK(BM_ResponseHead);

void BM_CodePerRequest(benchmark::State& state) {
  const std::string body = ImageBody();
  for (auto _ : state) benchmark::DoNotOptimize(CompressDeflate.Encode(body));
  state.SetLabel(std::to_string(body.size()) + " bytes");
}
BENCHMARK(BM_CodePerRequest);

void BM_CodedFormKeptInTheBody(benchmark::State& state) {
  const THttpBody body(ImageBody());
  std::string scratch;
  for (auto _ : state) benchmark::DoNotOptimize(body.Coded(CompressDeflate, scratch).data());
}
BENCHMARK(BM_CodedFormKeptInTheBody);

}  // namespace

BENCHMARK_MAIN();
