#include <utility>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <thread>
#include <filesystem>
#include <optional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/uGameLib.h"
#include "support/LibraryWriter.h"
#include "formats/MD5.h"
#include "formats/WIL.h"
#include "formats/ZStream.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "service/FrontEndCoding.h"
#include "service/uHttpServer.h"
#include "settings/TarnShare.h"
#include "support/HttpClient.h"
#include "support/LogLines.h"
#include "support/SharedStateTest.h"
#include "service/ServiceState.h"
#include "service/RequestToken.h"

namespace {

const char kHtml[] = "text/html; charset=UTF-8";

// A small client installation in the catalogue, and a service object on an injected clock.
class DispatchTest : public SharedStateTest {
 protected:
  void SetUp() override {
    SharedStateTest::SetUp();
    client = dir_.Path() + "/client";
    ForceDirectories(client + "/Data");
    ForceDirectories(client + "/Map/Sub");
    ForceDirectories(client + "/Wav");
    TLibDesc wzl;
    wzl.Images = {UnpackedImage(3, 2, 5, 1), ImageAt(0), PackedImage(40, 30, 5000, 2)};
    WriteWzlLibrary(client + "/Data/Hum.wzl", WzlLibraryBytes(wzl));
    WriteJpk(3);
    WriteFileAtomic(client + "/Map/Sub/0.map", PatternBytes(7000, 9));
    WriteFileAtomic(client + "/Wav/Hit.wav", PatternBytes(3000, 10));
    g_sSearchDir = client;
    g_JpkList.SetValue(client + "/Data/Items.jpk", "pw");
    g_WzlList = {client + "/Data/Hum.wzl"};
    g_MapList = {client + "/Map/Sub/0.map"};
    g_WavList = {client + "/Wav/Hit.wav"};
    lib = std::make_shared<TGameLib>(true);
    lib->LoadGameLib(CurrentLoadLists());
    g_ErrorList.Drain();
    server = std::make_unique<TNuvoHttpServer>(lib, CurrentServiceSettings(), [this] { return tick.load(); });
    key = MD5String(g_sWClientPass);
  }
  void TearDown() override {
    server.reset();
    lib.reset();
    SharedStateTest::TearDown();
  }

  void WriteJpk(int images) {
    TLibDesc jpk;
    for (int i = 0; i < images; ++i) jpk.Images.push_back(PackedImage(10, 10, 300 + i, 3 + i));
    WriteFileAtomic(client + "/Data/Items.jpk", JpkLibraryBytes(jpk, TJpkVersion::V2, "pw").Bytes);
  }

  std::string Token(const std::string& plain) const { return SimpleEnStringMsg(plain, key); }
  std::string Target(const std::string& plain, const std::string& type) const {
    return "/wclientdat/" + Token(plain) + "/" + type;
  }

  struct TAnswer {
    uint32_t Status;
    THttpServerRequest Ctxt;
  };
  TAnswer Ask(const std::string& url) {
    TAnswer a{0, {}};
    a.Ctxt.URL = url;
    a.Ctxt.Method = "GET";
    a.Status = server->Process(a.Ctxt);
    return a;
  }

  // The catalogue's answer for an image field: "Header" or an image number.
  std::string Entry(const std::string& libKey, const std::string& image) const {
    return image == "Header" ? lib->GetHeaderBuff(libKey) : lib->GetImageBuff(libKey, std::stoi(image));
  }

  // A service object on a free port, opened.
  uint16_t Serve() {
    g_nServerPort = FreeLoopbackPort();
    server = std::make_unique<TNuvoHttpServer>(lib, CurrentServiceSettings(), [this] { return tick.load(); });
    EXPECT_NE(server->Open(), "");
    DrainLogQueue();
    return g_nServerPort;
  }

  std::string client;
  std::shared_ptr<TGameLib> lib;
  std::atomic<uint64_t> tick{1000000};
  std::unique_ptr<TNuvoHttpServer> server;
  std::array<uint8_t, 16> key{};
};

TEST_F(DispatchTest, RefusalsAnswerTheirPageWriteTheirLineAndCount) {
  struct Case {
    std::string target;
    int32_t code;
    std::string line;
  };
  const std::string nopipe = Target("nopipe", "1.html");
  const std::string nulFirst = Target(std::string("\0data|hum.wzl|1", 15), "1.html");
  const std::string noFile = Target("data||", "3.html");
  const std::vector<Case> cases = {
      {"", -1, "异常访问"},
      {"/other/TOKEN/3.html", -2, "错误格式：/other/TOKEN/3.html"},
      {"/wclientdat/TOKEN/3.htm", -2, "错误格式：/wclientdat/TOKEN/3.htm"},
      {"/wclientdat/TOKEN/3.HTML", -2, "错误格式：/wclientdat/TOKEN/3.HTML"},
      {"/wclientdat/TOKEN/Check-Indexes", -2, "错误格式：/wclientdat/TOKEN/Check-Indexes"},
      {"/wclientdat/check-indexes", -2, "错误格式：/wclientdat/check-indexes"},
      {"/wclientdat/TOKEN", -2, "错误格式：/wclientdat/TOKEN"},
      {"/wclientdatx/TOKEN/3.html", -2, "错误格式：/wclientdatx/TOKEN/3.html"},
      {"/wclientdat/TOKEN/-4.html", -3, "错误资源：/wclientdat/TOKEN/-4.html/-4"},
      {"/wclientdat/TOKEN/7.html", -3, "错误资源：/wclientdat/TOKEN/7.html/7"},
      {"/wclientdat/TOKEN/0.html", -3, "错误资源：/wclientdat/TOKEN/0.html/0"},
      {"/wclientdat/TOKEN/-1.html", -3, "错误资源：/wclientdat/TOKEN/-1.html/-1"},
      {"/wclientdat/TOKEN/abc.html", -3, "错误资源：/wclientdat/TOKEN/abc.html/0"},
      {"/wclientdat/TOKEN/3.html.bak", -3, "错误资源：/wclientdat/TOKEN/3.html.bak/0"},
      {nopipe, -4, "解密失败：" + nopipe + "/nopipe"},
      {nulFirst, -4, "解密失败：" + nulFirst + "/\\x00data|hum.wzl|1"},
      {noFile, -4, "解密失败：" + noFile + "/data||"},
  };
  std::vector<std::string> lines;
  for (const Case& c : cases) {
    const uint64_t refused = g_nDataRead404;
    TAnswer a = Ask(c.target);
    EXPECT_EQ(a.Status, 404u) << c.target;
    EXPECT_EQ(ResponseBody(a.Ctxt), GetErrorMsg(c.code)) << c.target;
    EXPECT_EQ(a.Ctxt.OutContentType, kHtml);
    EXPECT_EQ(g_nDataRead404, refused + 1) << c.target;
    lines.push_back(c.line);
  }
  EXPECT_EQ(g_nDataRead, 0u);
  EXPECT_EQ(g_nDataSend, 0u);
  EXPECT_EQ(g_nDataSec, 0u);
  EXPECT_EQ(WorkLogLines(server->WorkLogsFile()), lines);
}

TEST_F(DispatchTest, ResourceRequestsAnswerTheCatalogueBytesAndCountThem) {
  const std::string hum = "\\data\\hum.wzl", items = "\\data\\items.jpk";
  struct Case {
    std::string type, plain, body;
  };
  const std::vector<Case> cases = {
      {"1.html", "data|hum.wzl|0", lib->GetImageBuff(hum, 0)},
      {"2.html", "data|hum.wzl|2.bmp", lib->GetImageBuff(hum, 2)},
      {"1.html", "data|hum.wzl|sub\\2.bmp", lib->GetImageBuff(hum, 2)},
      {"1.html", "data|hum.wzl|c:2", lib->GetImageBuff(hum, 2)},
      {"1.html", "data|hum.wzl|1", lib->GetImageBuff(hum, 1)},
      {"1.html", "data|hum.wzl|header", lib->GetHeaderBuff(hum)},
      {"2.html", "data|items.jpk|Header", lib->GetHeaderBuff(items)},
      {"2.html", "data|items.jpk|0", lib->GetImageBuff(items, 0)},
      {"3.htmlx", "map\\sub|0.map", lib->GetMapBuff("\\map\\sub\\0.map")},
      {"4.html", "wav|hit.wav", lib->GetWavBuff("\\wav\\hit.wav")},
      {"5.html?x=1", "wav|hit.wav", lib->GetWavBuff("\\wav\\hit.wav")},
      {"0x3.html", "map\\sub|0.map", lib->GetMapBuff("\\map\\sub\\0.map")},
      // Nothing loaded under these keys: an empty answer, counted all the same.
      {"3.html", "wav|hit.wav", ""},
      {"1.html", "data|hum.wzl|3", ""},
      {"1.html", "Data|Hum.wzl|0", ""},
      {"1.html", "data|missing.wzl|0", ""},
  };
  for (size_t i = 0; i < 10; ++i) ASSERT_FALSE(cases[i].body.empty()) << cases[i].plain;
  uint64_t sent = 0;
  for (const Case& c : cases) {
    TAnswer a = Ask(Target(c.plain, c.type));
    EXPECT_EQ(a.Status, 200u) << c.plain;
    EXPECT_TRUE(ResponseBody(a.Ctxt) == c.body) << c.plain;
    EXPECT_EQ(a.Ctxt.OutContentType, kHtml);
    sent += c.body.size();
  }
  EXPECT_EQ(g_nDataRead, cases.size());
  EXPECT_EQ(g_nDataSend, sent);
  EXPECT_EQ(g_nDataSec, sent);
  EXPECT_EQ(g_nDataRead404, 0u);
  EXPECT_FALSE(FileExists(server->WorkLogsFile())) << "answers touch no file";
}

// What a client must receive for a body: the bytes as they are, or their raw deflate at level 1
// when the client lists deflate and the body has at least 1024 bytes.
void ExpectWireBody(const THttpReply& r, const std::string& fresh, bool coded, const std::string& what) {
  if (coded && fresh.size() >= 1024) {
    EXPECT_EQ(r.Header("Content-Encoding"), "deflate") << what;
    EXPECT_TRUE(r.Body == RawDeflate(fresh, 1)) << what;
  } else {
    EXPECT_FALSE(r.Has("Content-Encoding")) << what;
    EXPECT_TRUE(r.Body == fresh) << what << " sizes " << r.Body.size() << " " << fresh.size();
  }
}

const std::vector<std::pair<std::string, std::string>> kAcceptsDeflate = {{"Accept-Encoding", "gzip, deflate"}};

TEST_F(DispatchTest, KeptAndCodedBodiesEqualFreshlyMadeOnesForEveryRequestForm) {
  // Larger entries, so that the coding applies to images and headers too.
  TLibDesc wzl;
  wzl.Images = {UnpackedImage(64, 40, 8, 1), ImageAt(0), PackedImage(40, 30, 5000, 2), UnpackedImage(3, 2, 5, 4)};
  WriteWzlLibrary(client + "/Data/Hum.wzl", WzlLibraryBytes(wzl));
  WriteFileAtomic(client + "/Map/Sub/0.map", std::string(20000, 'm'));
  lib->Clear();
  lib->LoadGameLib(CurrentLoadLists());
  const uint16_t port = Serve();
  const std::string hum = "\\data\\hum.wzl", items = "\\data\\items.jpk";
  struct Case {
    std::string target, fresh;
    unsigned status = 200;
  };
  const std::vector<Case> cases = {
      {Target("data|hum.wzl|0", "1.html"), Entry(hum, "0")},
      {Target("data|hum.wzl|1", "1.html"), Entry(hum, "1")},
      {Target("data|hum.wzl|x\\2.bmp", "2.html"), Entry(hum, "2")},
      {Target("data|hum.wzl|3", "1.html"), Entry(hum, "3")},
      {Target("data|hum.wzl|4", "1.html"), ""},
      {Target("data|hum.wzl|HEADER", "1.html"), Entry(hum, "Header")},
      {Target("data|items.jpk|Header", "2.html"), Entry(items, "Header")},
      {Target("data|items.jpk|2", "2.html"), Entry(items, "2")},
      {Target("data|gone.wzl|0", "1.html"), ""},
      {Target("map\\sub|0.map", "3.html"), lib->GetMapBuff("\\map\\sub\\0.map")},
      {Target("wav|hit.wav", "4.html"), lib->GetWavBuff("\\wav\\hit.wav")},
      {"/wclientdat/T/9.html", GetErrorMsg(-3), 404},
  };
  int codedBodies = 0;
  for (int round = 0; round < 2; ++round) {  // made, then kept
    for (bool coded : {false, true}) {
      for (const Case& c : cases) {
        THttpReply r = HttpGet(port, c.target, coded ? kAcceptsDeflate : decltype(kAcceptsDeflate){});
        EXPECT_EQ(r.Status, c.status) << c.target;
        ExpectWireBody(r, c.fresh, coded, c.target + (coded ? " coded" : " plain"));
        codedBodies += r.Has("Content-Encoding");
      }
      // The index table, under a new token each time (the throttle).
      const std::string token = "/wclientdat/T" + std::to_string(round) + (coded ? "c" : "p") + "/check-indexes";
      THttpReply r = HttpGet(port, token, coded ? kAcceptsDeflate : decltype(kAcceptsDeflate){});
      ExpectWireBody(r, lib->GetIndexes(), coded, token);
    }
  }
  EXPECT_EQ(codedBodies, 2 * 3) << "two images and the wav of this fixture are coded";
}

TEST_F(DispatchTest, AReloadOrUnloadNeverServesABodyFromThePassBefore) {
  const uint16_t port = Serve();
  const std::vector<std::pair<std::string, std::string>> asks = {
      {Target("data|hum.wzl|2", "1.html"), "2"},
      {Target("data|hum.wzl|Header", "1.html"), "Header"},
      {Target("data|items.jpk|0", "2.html"), "0"},
      {Target("data|items.jpk|Header", "2.html"), "Header"},
  };
  auto keyOf = [](const std::string& target) {
    return target.find("2.html") != std::string::npos ? "\\data\\items.jpk" : "\\data\\hum.wzl";
  };
  std::vector<std::string> before;
  for (const auto& [target, image] : asks) {
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(HttpGet(port, target).Body == Entry(keyOf(target), image));
    before.push_back(HttpGet(port, target, kAcceptsDeflate).Body);
  }
  // Other contents under the same names, loaded by a new pass.
  TLibDesc wzl;
  wzl.Images = {PackedImage(9, 9, 1500, 7), PackedImage(8, 8, 2500, 8), PackedImage(7, 7, 3500, 9)};
  WriteWzlLibrary(client + "/Data/Hum.wzl", WzlLibraryBytes(wzl));
  TLibDesc jpk;
  for (int i = 0; i < 4; ++i) jpk.Images.push_back(PackedImage(12, 12, 1200 + i, 20 + i));
  WriteFileAtomic(client + "/Data/Items.jpk", JpkLibraryBytes(jpk, TJpkVersion::V2, "pw").Bytes);
  lib->Clear();
  lib->LoadGameLib(CurrentLoadLists());
  for (size_t i = 0; i < asks.size(); ++i) {
    const auto& [target, image] = asks[i];
    const std::string fresh = Entry(keyOf(target), image);
    ASSERT_FALSE(fresh.empty()) << target;
    EXPECT_TRUE(HttpGet(port, target).Body == fresh) << target;
    const THttpReply coded = HttpGet(port, target, kAcceptsDeflate);
    ExpectWireBody(coded, fresh, true, target);
    EXPECT_NE(coded.Body, before[i]) << target;
  }
  lib->Clear();  // unload
  for (const auto& [target, image] : asks) {
    EXPECT_EQ(HttpGet(port, target).Body, "") << target;
    EXPECT_EQ(HttpGet(port, target, kAcceptsDeflate).Body, "") << target;
  }
}

TEST_F(DispatchTest, AMapOrWavBodyIsMadeOncePerCatalogueStateAndNeverOutlivesIt) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {Target("map\\sub|0.map", "3.html"), client + "/Map/Sub/0.map"},
      {Target("wav|hit.wav", "4.html"), client + "/Wav/Hit.wav"},
  };
  std::vector<THttpBodyRef> before;
  for (const auto& [target, path] : files) {
    const TAnswer first = Ask(target), second = Ask(target);
    ASSERT_TRUE(first.Ctxt.OutBody) << target;
    // One body, so its tag is made once and not per request.
    EXPECT_EQ(first.Ctxt.OutBody, second.Ctxt.OutBody) << target;
    before.push_back(first.Ctxt.OutBody);
    WriteFileAtomic(path, PatternBytes(5000, 77));
  }
  lib->Clear();
  lib->LoadGameLib(CurrentLoadLists());
  for (size_t i = 0; i < files.size(); ++i) {
    const TAnswer after = Ask(files[i].first);
    ASSERT_TRUE(after.Ctxt.OutBody);
    EXPECT_NE(after.Ctxt.OutBody->Plain(), before[i]->Plain()) << files[i].first;
    EXPECT_NE(after.Ctxt.OutBody->Tag(EntityTag), before[i]->Tag(EntityTag)) << files[i].first;
  }
  lib->Clear();  // unload
  for (const auto& [target, path] : files) EXPECT_FALSE(Ask(target).Ctxt.OutBody) << target;
}

// A WZL header block is its index file as it is on disk: a change of that file (or of the data
// file) drops the library's kept bodies, and only its own, and is told once.
TEST_F(DispatchTest, AChangedIndexFileDropsItsLibrarysKeptBodiesOnly) {
  const std::string header = Target("data|hum.wzl|Header", "1.html");
  const std::string other = Target("data|items.jpk|0", "2.html");
  const THttpBodyRef keptHeader = Ask(header).Ctxt.OutBody;
  const THttpBodyRef keptOther = Ask(other).Ctxt.OutBody;
  ASSERT_TRUE(keptHeader && keptOther);
  ASSERT_EQ(Ask(header).Ctxt.OutBody, keptHeader) << "kept";
  lib->Resume();  // its thread looks for changed files
  AppendFileBytes(client + "/Data/Hum.wzx", "more");
  const std::string fresh = lib->GetHeaderBuff("\\data\\hum.wzl");
  ASSERT_NE(fresh, keptHeader->Plain());
  THttpBodyRef now;
  for (int i = 0; i < 1000 && (now = Ask(header).Ctxt.OutBody)->Plain() != fresh; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(now->Plain(), fresh);
  EXPECT_EQ(Ask(other).Ctxt.OutBody, keptOther) << "another library's body stays kept";
  AppendFileBytes(client + "/Data/Hum.wzl", "more");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const std::vector<std::string> log = DrainLogQueue();
  EXPECT_EQ(std::count(log.begin(), log.end(), "\\data\\hum.wzl 资源文件已被修改，请重新加载微端资源！"), 1);
}

// The per-library lock that every entry read of a library takes.
struct TLibraryLock : TWMImages {
  static TMyLock& Of(TWMImages& lib) { return *(lib.*(&TLibraryLock::Lock)); }
};

TEST_F(DispatchTest, AStalledLibraryReadDelaysNoRequestOnAnotherConnection) {
  const uint16_t port = Serve();
  const std::string items = "\\data\\items.jpk";
  const std::string entry = Entry(items, "1");
  // Clients connected before the stall, so that they share event loops and workers with it.
  std::vector<THttpConnection> others;
  for (int i = 0; i < 64; ++i) {
    others.emplace_back(port);
    EXPECT_EQ(others.back().Get("/wclientdat/T" + std::to_string(i) + "/check-indexes").Status, 200u);
  }
  // A read of this library that does not come back: its lock stays taken.
  std::unique_lock<TMyLock> stall(TLibraryLock::Of(*lib->GetLib(items)));
  auto stalled = std::async(std::launch::async, [&] { return HttpGet(port, Target("data|items.jpk|1", "2.html")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // for it to reach a worker and wait there

  // In memory (map, wav, index table), read from another library, and refused: all answered, on
  // every connection.
  const std::string map = lib->GetMapBuff("\\map\\sub\\0.map"), wav = lib->GetWavBuff("\\wav\\hit.wav");
  const std::string hum2 = Entry("\\data\\hum.wzl", "2"), header = Entry(items, "Header");
  for (auto& c : others) {
    EXPECT_TRUE(c.Get(Target("map\\sub|0.map", "3.html")).Body == map);
    EXPECT_TRUE(c.Get(Target("wav|hit.wav", "4.html")).Body == wav);
    EXPECT_TRUE(c.Get(Target("data|hum.wzl|2", "1.html")).Body == hum2);
    EXPECT_TRUE(c.Get(Target("data|items.jpk|Header", "2.html")).Body == header);
    EXPECT_EQ(c.Get("/wclientdat/T/7.html").Status, 404u);
  }
  EXPECT_EQ(stalled.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout) << "the read still waits";

  stall.unlock();
  const THttpReply r = stalled.get();
  EXPECT_EQ(r.Status, 200u);
  EXPECT_TRUE(r.Body == entry);
}

TEST_F(DispatchTest, MissesAnsweredOnTheLoopAreTheBytesAWorkerReads) {
  // Two service objects that keep nothing yet: every library answer is a read of the file, which
  // was just written, so the page cache holds it and the loop may read it without waiting.
  TNuvoHttpServer onLoop(lib, CurrentServiceSettings(), [this] { return tick.load(); });
  TNuvoHttpServer onWorker(lib, CurrentServiceSettings(), [this] { return tick.load(); });
  struct Case {
    std::string target;
    bool image;  // a read the loop does itself
  };
  const std::vector<Case> cases = {
      {Target("data|hum.wzl|0", "1.html"), true},        // full entry
      {Target("data|hum.wzl|1", "1.html"), true},        // absent entry
      {Target("data|hum.wzl|x\\2.bmp", "2.html"), true},  // packed, image field with folder and extension
      {Target("data|hum.wzl|3", "1.html"), true},        // beyond the count
      {Target("data|hum.wzl|-1", "1.html"), true},
      {Target("data|items.jpk|0", "2.html"), true},
      {Target("data|items.jpk|2", "2.html"), true},
      {Target("data|hum.wzl|Header", "1.html"), false},  // headers stay with the workers
      {Target("data|items.jpk|header", "2.html"), false},
      {Target("data|gone.wzl|0", "1.html"), true},
      {Target("map\\sub|0.map", "3.html"), true},
      {Target("wav|hit.wav", "4.html"), true},
      {Target("data|hum.wzl", "1.html"), true},          // no image field
  };
  for (const Case& c : cases) {
    THttpServerRequest loop, worker;
    loop.URL = worker.URL = c.target;
    const uint32_t status = onLoop.ProcessInMemory(loop);
    const uint32_t expected = onWorker.Process(worker);
    if (!c.image) {
      EXPECT_EQ(status, kHttpNeedsWorker) << c.target;
      continue;
    }
    ASSERT_NE(status, kHttpNeedsWorker) << c.target;
    EXPECT_EQ(status, expected) << c.target;
    EXPECT_TRUE(ResponseBody(loop) == ResponseBody(worker)) << c.target;
    EXPECT_EQ(loop.OutContentType, worker.OutContentType) << c.target;
  }
  // A library another reader holds is never waited for on the loop: the worker reads it.
  std::unique_lock<TMyLock> busy(TLibraryLock::Of(*lib->GetLib("\\data\\items.jpk")));
  THttpServerRequest held;
  held.URL = Target("data|items.jpk|1", "2.html");
  EXPECT_EQ(onLoop.ProcessInMemory(held), kHttpNeedsWorker);
}

TEST_F(DispatchTest, PathSegmentsAreFoundPastRepeatedSlashesAndInAnyPrefixCase) {
  const std::string token = Token("map\\sub|0.map");
  const std::string map = lib->GetMapBuff("\\map\\sub\\0.map");
  for (const std::string& target : {"//wclientdat//" + token + "//3.html", "/WClientDat/" + token + "/3.html/extra"}) {
    TAnswer a = Ask(target);
    EXPECT_EQ(a.Status, 200u) << target;
    EXPECT_TRUE(ResponseBody(a.Ctxt) == map) << target;
  }
}

TEST_F(DispatchTest, ImageRequestWithoutImageFieldSetsNothingButCounts) {
  for (const char* plain : {"data|hum.wzl", "data|hum.wzl|", "|hum.wzl|0"}) {
    TAnswer a = Ask(Target(plain, "1.html"));
    EXPECT_EQ(a.Status, 400u) << plain;
    EXPECT_EQ(ResponseBody(a.Ctxt), "") << plain;
    EXPECT_EQ(a.Ctxt.OutContentType, "") << plain;
  }
  EXPECT_EQ(g_nDataRead, 3u);
  EXPECT_EQ(g_nDataSend, 0u);
  EXPECT_EQ(g_nDataRead404, 0u);
}

TEST_F(DispatchTest, IndexTableIsServedOncePer300000MsForEachToken) {
  const std::string table = lib->GetIndexes();
  auto ask = [&](const std::string& target, uint64_t at) {
    tick = at;
    return Ask(target);
  };
  const uint64_t t0 = tick;
  TAnswer first = ask("/wclientdat/A/check-indexes", t0);
  EXPECT_EQ(first.Status, 200u);
  EXPECT_EQ(ResponseBody(first.Ctxt), table);
  EXPECT_EQ(first.Ctxt.OutContentType, kHtml);

  TAnswer again = ask("/wclientdat/A/check-indexes", t0 + 299999);
  EXPECT_EQ(again.Status, 404u);
  EXPECT_EQ(again.Ctxt.OutContent, GetErrorMsg(-99));
  EXPECT_EQ(again.Ctxt.OutContentType, kHtml);
  // Another token, and the prefix in another case, are throttled on their own.
  EXPECT_EQ(ask("/WClientDat/B/check-indexes", t0 + 299999).Status, 200u);
  // The wait runs from the last answer, not from the refusals.
  EXPECT_EQ(ask("/wclientdat/A/check-indexes", t0 + 300000).Status, 200u);
  EXPECT_EQ(ask("/wclientdat/A/check-indexes", t0 + 300001).Status, 404u);
  EXPECT_EQ(ask("/wclientdat/A/check-indexes", t0 + 600000).Status, 200u);
  EXPECT_EQ(ask("//wclientdat//B//check-indexes//x", t0 + 300000).Status, 404u);

  EXPECT_EQ(g_nDataRead + g_nDataRead404 + g_nDataSend, 0u) << "index-table requests count nothing";
  EXPECT_FALSE(FileExists(server->WorkLogsFile())) << "and log nothing";
}

TEST_F(DispatchTest, IndexTableIsTheOneTakenWhenTheServiceWasCreated) {
  const std::string table = lib->GetIndexes();
  WriteJpk(5);  // another index, so another hash for the row
  lib->Clear();
  lib->LoadGameLib(CurrentLoadLists());
  ASSERT_NE(lib->GetIndexes(), table);
  TAnswer a = Ask("/wclientdat/A/check-indexes");
  EXPECT_EQ(a.Status, 200u);
  EXPECT_EQ(ResponseBody(a.Ctxt), table);
  EXPECT_EQ(ZlibInflate(std::string(ResponseBody(a.Ctxt))).value().substr(0, 16), "\\data\\items.jpk|");
}

TEST_F(DispatchTest, ThrottleMapStaysBoundedUnderAFloodAndAnswersAsWithoutSweeping) {
  // The reference: every token ever seen, never forgotten.
  std::unordered_map<std::string, int64_t> model;
  const int64_t t0 = static_cast<int64_t>(tick.load());
  const int kTokens = 30000, kStep = 100;  // 3000 tokens fresh at any time
  size_t largest = 0;
  int mismatches = 0;
  for (int i = 0; i < kTokens; ++i) {
    const int64_t now = t0 + int64_t{i} * kStep;
    // Mostly new tokens; every third request repeats one seen up to 400000 ms before.
    const int j = (i % 3 == 2) ? i - (i * 7919) % 4000 : i;
    const std::string token = "t" + std::to_string(j < 0 ? i : j);
    auto it = model.find(token);
    const bool throttled = it != model.end() && now - it->second < TNuvoHttpServer::kCheckIndexesInterval;
    if (!throttled) model[token] = now;
    tick = static_cast<uint64_t>(now);
    if (Ask("/wclientdat/" + token + "/check-indexes").Status != (throttled ? 404u : 200u)) ++mismatches;
    largest = std::max(largest, server->CheckIndexesCount());
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(model.size(), 20000u);
  EXPECT_LT(largest, 12000u) << "bounded by the tokens of the last 300000 ms, not by all tokens";
}

TEST_F(DispatchTest, ControlBytesOfRequestTextAreEscapedSoOneRefusalIsOneLine) {
  const std::string forged = "/x\r\n2024/7/2 13:45:12 forged\t/3.html";
  const std::string decoded = "\xB0\n\x7F" + AnsiFromUtf8("中") + "\x1F";
  const std::string target = Target(decoded, "1.html");
  EXPECT_EQ(Ask(forged).Status, 404u);
  EXPECT_EQ(Ask(target).Status, 404u);
  EXPECT_EQ(WorkLogLines(server->WorkLogsFile()),
            (std::vector<std::string>{"错误格式：/x\\x0D\\x0A2024/7/2 13:45:12 forged\\x09/3.html",
                                      // The lead byte without its second byte is "?", as any
                                      // invalid byte; it does not swallow the escape.
                                      "解密失败：" + target + "/?\\x0A\\x7F中\\x1F"}));
  EXPECT_EQ(EscapeControlBytes(std::string("a\0\x7f\x80 ~", 6)), "a\\x00\\x7F\x80 ~");
}

TEST_F(DispatchTest, AWorkLogThatCannotBeWrittenRaisesBeforeTheRequestIsCounted) {
  ASSERT_TRUE(DirectoryExists("./Logs"));
  std::filesystem::remove_all("./Logs");
  WriteFileAtomic("./Logs", "not a directory");
  EXPECT_THROW(Ask("/other/x"), EInOutError);
  EXPECT_EQ(g_nDataRead404, 0u);
  // The detail goes to the operator log, not to the client; the same failure once per interval.
  EXPECT_THROW(Ask("/other/y"), EInOutError);
  std::vector<std::string> log = DrainLogQueue();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("[Exception] TNuvoHttpServer::Process /other/x ", 0), 0u) << log[0];
  EXPECT_NE(log[0].find("Logs/"), std::string::npos) << log[0];
  tick += TNuvoHttpServer::kErrorLogInterval;
  EXPECT_THROW(Ask("/other/z"), EInOutError);
  EXPECT_EQ(DrainLogQueue().size(), 1u);
}

// ---- Creating, opening and releasing the service object ----

class ServiceObjectTest : public SharedStateTest {
 protected:
  void SetUp() override {
    SharedStateTest::SetUp();
    g_nServerPort = FreeLoopbackPort();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(g_nServerPort) + "/wclientdat/"; }
  std::string StartLine() const { return "微端服务器启动完毕！[" + std::to_string(g_nServerPort) + "]"; }
  // Opens `server` expecting a failed start; returns its one log line.
  std::string FailedStartLine(TNuvoHttpServer& server) {
    EXPECT_EQ(server.Open(), "");
    EXPECT_FALSE(g_boStart);
    std::vector<std::string> log = DrainLogQueue();
    EXPECT_EQ(log.size(), 1u);
    return log.empty() ? std::string() : log[0];
  }
};

TEST_F(ServiceObjectTest, CreationMakesLogsAndNamesTheWorkLogAfterItsTime) {
  g_boStart = true;
  const std::time_t before = std::time(nullptr);
  TNuvoHttpServer server(nullptr, CurrentServiceSettings());
  const std::time_t after = std::time(nullptr);
  EXPECT_FALSE(g_boStart);
  EXPECT_TRUE(DirectoryExists("./Logs"));
  EXPECT_TRUE(server.WorkLogsFile() == "./Logs/" + DateTimeStamp(before) + ".log" ||
              server.WorkLogsFile() == "./Logs/" + DateTimeStamp(after) + ".log")
      << server.WorkLogsFile();
  // With no catalogue the table is the stream of an empty text.
  THttpServerRequest c;
  c.URL = "/wclientdat/t/check-indexes";
  EXPECT_EQ(server.Process(c), 200u);
  EXPECT_EQ(ZlibInflate(std::string(ResponseBody(c))), std::optional<std::string>(""));
}

TEST_F(ServiceObjectTest, OpenServesTheAddressAndASecondOpenChangesNothing) {
  {
    TNuvoHttpServer server(nullptr, CurrentServiceSettings());
    EXPECT_EQ(server.Open(), Url());
    EXPECT_TRUE(g_boStart);
    EXPECT_EQ(DrainLogQueue(), std::vector<std::string>{StartLine()});
    EXPECT_EQ(HttpGet(g_nServerPort, "/wclientdat/t/check-indexes").Status, 200u);

    EXPECT_EQ(server.Open(), Url()) << "one registration";
    EXPECT_TRUE(g_boStart);
    EXPECT_EQ(DrainLogQueue(), std::vector<std::string>{StartLine()});
    EXPECT_EQ(HttpGet(g_nServerPort, "/wclientdat/t/check-indexes").Status, 404u) << "same object, same throttle";
  }
  EXPECT_FALSE(g_boStart);
  EXPECT_THROW(HttpGet(g_nServerPort, "/wclientdat/t/check-indexes"), std::exception) << "port released";
}

TEST_F(ServiceObjectTest, PortZeroIsAFailedStartWithNoListener) {
  g_nServerPort = 0;
  TNuvoHttpServer server(nullptr, CurrentServiceSettings());
  const std::string line = FailedStartLine(server);
  EXPECT_EQ(line.rfind("微端服务器启动异常！[port 0: ", 0), 0u) << line;
  EXPECT_EQ(server.BoundPort(), 0) << "nothing listens";
}

TEST_F(ServiceObjectTest, APortThatCannotBeBoundIsAFailedStartThatALaterOpenRetries) {
  namespace net = boost::asio;
  net::io_context io;
  auto holder = std::make_unique<net::ip::tcp::acceptor>(
      io, net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), g_nServerPort));
  TNuvoHttpServer server(nullptr, CurrentServiceSettings());
  const std::string line = FailedStartLine(server);
  EXPECT_EQ(line.rfind("微端服务器启动异常！[", 0), 0u) << line;
  EXPECT_NE(line.find(std::to_string(g_nServerPort)), std::string::npos) << line;
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.back(), ']');

  holder.reset();
  EXPECT_EQ(server.Open(), Url());
  EXPECT_TRUE(g_boStart);
  EXPECT_EQ(DrainLogQueue(), std::vector<std::string>{StartLine()});
  EXPECT_EQ(HttpGet(g_nServerPort, "/wclientdat/t/check-indexes").Status, 200u);
}

}  // namespace
