// The headless program end to end: started on demo data in a temporary folder, asked over HTTP
// like game clients ask, driven by signals like a service manager drives it.
#include <utility>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/ProgramSettings.h"
#include "catalogue/uGameLib.h"
#include "support/DemoData.h"
#include "support/LibraryWriter.h"
#include "formats/MD5.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"
#include "client/WClientProbe.h"
#include "service/uHttpServer.h"
#include "settings/TarnShare.h"
#include "support/ChildProcess.h"
#include "support/DaemonInstance.h"
#include "support/HttpClient.h"
#include "support/LogLines.h"
#include "support/TempDir.h"
#include "support/SharedStateTest.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const auto kStartTimeout = 60s;  // loading the demo under a sanitizer on a busy machine

bool Contains(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

// The demo installation served by the daemon on a free port.
class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    demo = WriteDemoData(dir.Path(), 0);
  }
  void TearDown() override {
    if (daemon && daemon->Running()) {
      daemon->Signal(SIGTERM);
      EXPECT_EQ(daemon->Wait(30s), std::optional<int>(0)) << daemon->Output();
    }
    ResetSharedState();
  }

  void SetPort(uint16_t p) {
    port = p;
    WriteConfigPort(dir.Path(), p);
  }

  void StartDaemon() {
    TDaemonInstance d = StartDaemonIn(dir.Path(), kStartTimeout);
    port = d.Port;
    daemon = std::move(d.Process);
    conn = std::make_unique<TWClientConnection>(Url());
  }

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/wclientdat/"; }
  std::string Target(int nType, const std::string& key, const std::string& image = "") const {
    std::string sDir, sLib;
    EXPECT_TRUE(SplitCatalogueKey(key, sDir, sLib)) << key;
    return WClientTarget(demo.WClientPass, nType, sDir, sLib, image);
  }
  size_t Count(const std::string& part) const {
    size_t n = 0;
    for (const std::string& l : daemon->Lines()) n += Contains(l, part) ? 1 : 0;
    return n;
  }
  // Waits until `part` has been printed `n` times.
  bool WaitCount(const std::string& part, size_t n, std::chrono::milliseconds timeout = kStartTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Count(part) < n) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  // The work-log files, oldest first, each as its lines without the time stamp.
  std::vector<std::vector<std::string>> WorkLogs() const {
    std::vector<std::string> names = ListFiles(dir.PathOf("Logs"));
    std::sort(names.begin(), names.end());
    std::vector<std::vector<std::string>> logs;
    for (const std::string& name : names) logs.push_back(WorkLogLines(dir.PathOf("Logs/" + name)));
    return logs;
  }
  // The catalogue as this process loads the demo: the bytes every answer must carry.
  std::shared_ptr<TGameLib> ExpectedCatalogue() {
    g_sSearchDir = demo.ClientDir;
    for (const TDemoLibrary& lib : demo.Libraries) {
      if (lib.Mode == TImageMode::Tarn2Wzl) g_WzlList.push_back(lib.Path);
      else g_JpkList.SetValue(lib.Path, lib.PassWord);
    }
    for (const TDemoFile& f : demo.Maps) g_MapList.push_back(f.Path);
    for (const TDemoFile& f : demo.Wavs) g_WavList.push_back(f.Path);
    auto lib = std::make_shared<TGameLib>(true, OperatorLog());
    lib->LoadGameLib(LoadListsOfSettings());
    g_ErrorList.Drain();
    return lib;
  }

  TempDir dir{false};
  TDemoData demo;
  uint16_t port = 0;
  std::unique_ptr<TChildProcess> daemon;
  std::unique_ptr<TWClientConnection> conn;
};

TEST_F(DaemonTest, PrintsTheStartLinesAndAnswersEveryTypeCode) {
  StartDaemon();
  const auto lines = daemon->Lines();
  ASSERT_GE(lines.size(), 3u);
  const std::regex stamped("\\[\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{2}:\\d{2}\\] .*");
  for (const std::string& l : lines) EXPECT_TRUE(std::regex_match(l, stamped)) << l;
  EXPECT_EQ(Count("] 程序更新:v2.1 2024/7/2"), 1u);
  EXPECT_EQ(Count("] 程序开发:WWW.NUVOCLIENT.EXAMPLE"), 1u);
  EXPECT_EQ(Count("] 程序名称:微端服务器(IIS+HTTP)"), 1u);
  EXPECT_EQ(Count("] 微端服务器启动完毕！[" + std::to_string(port) + "]"), 1u);

  const std::shared_ptr<TGameLib> expected = ExpectedCatalogue();
  for (bool deflate : {true, false}) {
    for (const TDemoLibrary& lib : demo.Libraries) {
      for (int nType : {1, 2}) {
        for (const std::string& image :
             std::vector<std::string>{"Header", "header", "0", "11", "17", std::to_string(lib.ImageCount - 1)}) {
          const TWClientAnswer a = conn->Get(Target(nType, lib.Key, image), deflate);
          ASSERT_EQ(a.Error, "");
          EXPECT_EQ(a.Status, 200u);
          const std::string key = AnsiFromUtf8(lib.Key);
          const std::string want = SameTextAscii(image, "Header") ? expected->GetHeaderBuff(key)
                                                                  : expected->GetImageBuff(key, std::stoi(image));
          EXPECT_TRUE(a.Body == want) << lib.Key << " " << image;
          EXPECT_EQ(a.Deflated, deflate && a.Body.size() >= 1024);
          const std::string why = SameTextAscii(image, "Header") ? CheckHeaderPayload(a.Body, nullptr)
                                                                : CheckImagePayload(a.Body, std::stoi(image), 0, nullptr);
          EXPECT_EQ(why, "") << lib.Key << " " << image;
        }
      }
    }
    for (const auto& [files, types] : {std::pair{demo.Maps, std::vector<int>{3}}, std::pair{demo.Wavs, std::vector<int>{4, 5}}}) {
      for (const TDemoFile& f : files) {
        for (int nType : types) {
          const TWClientAnswer a = conn->Get(Target(nType, f.Key), deflate);
          ASSERT_EQ(a.Error, "");
          EXPECT_EQ(a.Status, 200u);
          std::string file;
          EXPECT_EQ(CheckStreamPayload(a.Body, &file), "") << f.Key;
          EXPECT_TRUE(file == ReadFileBytes(f.Path)) << f.Key;
        }
      }
    }
  }
}

TEST_F(DaemonTest, AnswersEmptyForWhatIsNotLoadedAndRefusesWithPageLogLineAndCounter) {
  StartDaemon();
  // Not loaded: an empty 200, counted as an answered request.
  const std::vector<std::string> empty = {
      Target(1, "\\data\\missing.wzl", "0"), Target(1, "\\data\\hum.wzl", "96"), Target(2, "\\data\\hum.wzl", "-1"),
      Target(3, "\\map\\mir\\9.map"), Target(3, "\\wav\\hit.wav"), Target(4, "\\map\\mir\\0.map"),
      Target(1, "\\Data\\Hum.wzl", "0")};
  for (const std::string& t : empty) {
    THttpReply r = HttpGet(port, t);
    EXPECT_EQ(r.Status, 200u) << t;
    EXPECT_EQ(r.Body, "") << t;
  }
  // An image request without an image field: the handler sets nothing; the front end answers 400.
  EXPECT_EQ(HttpGet(port, Target(1, "\\data\\hum.wzl")).Status, 400u);

  const std::string nopipe = "/wclientdat/" + WClientToken(demo.WClientPass, "nopipe") + "/1.html";
  struct Case {
    std::string target;
    int32_t code;
    std::string line;
  };
  const std::vector<Case> refusals = {
      {"/wclientdat/TOKEN/3.htm", -2, "错误格式：/wclientdat/TOKEN/3.htm"},
      {"/WCLIENTDAT/TOKEN/Check-Indexes", -2, "错误格式：/WCLIENTDAT/TOKEN/Check-Indexes"},
      {"/wclientdat/check-indexes", -2, "错误格式：/wclientdat/check-indexes"},
      {"/wclientdat/TOKEN/7.html", -3, "错误资源：/wclientdat/TOKEN/7.html/7"},
      {"/wclientdat/TOKEN/-4.html", -3, "错误资源：/wclientdat/TOKEN/-4.html/-4"},
      {"/wclientdat/TOKEN/abc.html", -3, "错误资源：/wclientdat/TOKEN/abc.html/0"},
      {nopipe, -4, "解密失败：" + nopipe + "/nopipe"},
  };
  std::vector<std::string> lines;
  for (const Case& c : refusals) {
    THttpReply r = HttpRequest(port, "POST", c.target);  // the method makes no difference
    EXPECT_EQ(r.Status, 404u) << c.target;
    EXPECT_EQ(r.Body, GetErrorMsg(c.code)) << c.target;
    EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=UTF-8");
    lines.push_back(c.line);
  }
  // Requests outside the prefix never reach the handler: no page, no line, no count.
  THttpReply other = HttpGet(port, "/other/TOKEN/3.html");
  EXPECT_EQ(other.Status, 404u);
  EXPECT_EQ(other.Body, "");

  const std::string counters = "] 请求: " + std::to_string(empty.size() + 1) + "/错误：" + std::to_string(refusals.size()) + "/";
  EXPECT_TRUE(daemon->WaitForLine([&](const std::string& l) { return Contains(l, counters); }, 10s))
      << counters << "\n" << daemon->Output();
  EXPECT_EQ(WorkLogs(), std::vector<std::vector<std::string>>{lines});
}

TEST_F(DaemonTest, IndexTableIsThrottledPerTokenAndSigusr1BringsAFreshTableAndWorkLog) {
  StartDaemon();
  auto table = [&](const std::string& token, std::vector<std::pair<std::string, std::string>>* rows = nullptr) {
    const TWClientAnswer a = conn->Get("/wclientdat/" + token + "/check-indexes");
    EXPECT_EQ(a.Error, "");
    if (a.Status == 200) EXPECT_EQ(CheckIndexTable(a.Body, rows), "");
    else EXPECT_EQ(a.Body, GetErrorMsg(-99));
    return a.Status;
  };
  std::vector<std::pair<std::string, std::string>> before;
  EXPECT_EQ(table("A", &before), 200u);
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(before[1].first, "\\data\\effect.jpk");
  EXPECT_EQ(table("A"), 404u);
  EXPECT_EQ(table("B"), 200u);
  EXPECT_EQ(table("B"), 404u);
  EXPECT_EQ(HttpGet(port, "/wclientdat/x/7.html").Status, 404u);  // a line in the first work log

  // Another index in one library: a reload serves it, but the running service keeps its table.
  TLibDesc changed;
  for (int i = 0; i < 5; ++i) changed.Images.push_back(PackedImage(9, 9, 100 + i, 50 + i));
  WriteFileAtomic(demo.Libraries[4].Path, JpkLibraryBytes(changed, TJpkVersion::V1, demo.Libraries[4].PassWord).Bytes);
  ASSERT_EQ(demo.Libraries[4].Key, "\\data\\effect.jpk");
  daemon->Signal(SIGHUP);
  ASSERT_TRUE(WaitCount("] 微端部署地址: ", 2)) << daemon->Output();
  THeaderSummary header;
  EXPECT_EQ(CheckHeaderPayload(conn->Get(Target(1, "\\data\\effect.jpk", "Header")).Body, &header), "");
  EXPECT_EQ(header.ImageCount, 5);
  std::vector<std::pair<std::string, std::string>> kept;
  EXPECT_EQ(table("C", &kept), 200u);
  EXPECT_EQ(kept, before);
  EXPECT_EQ(table("A"), 404u) << "a reload keeps the throttle";

  // A new work-log file needs a new second in its name.
  std::this_thread::sleep_for(1100ms);
  daemon->Signal(SIGUSR1);
  ASSERT_TRUE(WaitCount("] 微端部署地址: ", 3)) << daemon->Output();
  EXPECT_EQ(Count("] 微端服务器已停止.."), 1u);
  std::vector<std::pair<std::string, std::string>> fresh;
  EXPECT_EQ(table("A", &fresh), 200u) << "a new service object forgets every token";
  ASSERT_EQ(fresh.size(), 3u);
  EXPECT_EQ(fresh[1].first, "\\data\\effect.jpk");
  EXPECT_EQ(fresh[1].second, header.IndexHash);
  EXPECT_NE(fresh[1].second, before[1].second);
  EXPECT_EQ(fresh[0], before[0]);
  EXPECT_EQ(HttpGet(port, "/wclientdat/x/8.html").Status, 404u);
  EXPECT_EQ(WorkLogs(), (std::vector<std::vector<std::string>>{{"错误资源：/wclientdat/x/7.html/7"},
                                                               {"错误资源：/wclientdat/x/8.html/8"}}));
}

TEST_F(DaemonTest, TwentyReloadsUnder32ClientsGiveNoEmptyFailedOrWrongAnswer) {
  StartDaemon();
  // The targets the clients rotate over, with the answer each must get.
  TDeployment deployment = ReadDeployment(dir.Path());
  const std::vector<std::string> targets = DeploymentTargets(*conn, deployment, 6);
  ASSERT_GT(targets.size(), 40u);
  std::map<std::string, std::string> expected;
  for (const std::string& t : targets) {
    const TWClientAnswer a = conn->Get(t);
    ASSERT_TRUE(a.Error.empty() && a.Status == 200 && !a.Body.empty()) << t;
    expected[t] = a.Body;
  }

  std::atomic<bool> stop{false};
  std::atomic<int> answers{0}, emptyAnswers{0}, failed{0}, wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 32; ++c) {
    clients.emplace_back([&, c] {
      TWClientConnection client(Url());
      for (size_t i = static_cast<size_t>(c); !stop; ++i) {
        const std::string& t = targets[i % targets.size()];
        const TWClientAnswer a = client.Get(t);
        ++answers;
        if (!a.Error.empty() || a.Status != 200) ++failed;
        else if (a.Body.empty()) ++emptyAnswers;
        else if (a.Body != expected[t]) ++wrong;
      }
    });
  }
  for (size_t pass = 2; pass <= 21; ++pass) {
    std::this_thread::sleep_for(20ms);
    daemon->Signal(SIGHUP);
    ASSERT_TRUE(WaitCount("] 微端部署地址: ", pass)) << daemon->Output();
  }
  std::this_thread::sleep_for(50ms);
  stop = true;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrong, 0);
  std::printf("20 reloads: %d answers, %d empty, %d failed, %d wrong\n", answers.load(), emptyAnswers.load(),
              failed.load(), wrong.load());
  EXPECT_EQ(emptyAnswers, 0) << "every stored resource stays served while a reload runs";
  EXPECT_GT(answers, 32 * 20) << "the clients kept being answered";
  for (const std::string& t : targets) EXPECT_EQ(conn->Get(t).Body, expected[t]) << t;
}

TEST_F(DaemonTest, EndsWithStatusZeroOnSigtermAndSigint) {
  for (int sig : {SIGTERM, SIGINT}) {
    StartDaemon();
    daemon->Signal(sig);
    EXPECT_EQ(daemon->Wait(30s), std::optional<int>(0)) << daemon->Output();
    EXPECT_THROW(HttpGet(port, "/wclientdat/x/check-indexes"), std::exception) << "nothing listens any more";
  }
}

// A pass far longer than a service manager waits stops at the next file on SIGTERM.
TEST_F(DaemonTest, SigtermDuringALongLoadPassEndsItAtTheNextFile) {
  const std::string big = dir.PathOf("client/Map/big.map");
  WriteFileAtomic(big, PatternBytes(size_t{4} << 20, 7));
  WriteTextLines(dir.PathOf("MapList.txt"), std::vector<std::string>(5000, big));
  SetPort(FreeLoopbackPort());
  daemon = std::make_unique<TChildProcess>(BuiltProgram("NuvoClientDaemon"), std::vector<std::string>{}, dir.Path());
  ASSERT_TRUE(daemon->WaitForLine([](const std::string& l) { return Contains(l, "准备加载 Map 资源 [5000]"); },
                                  kStartTimeout))
      << daemon->Output();
  daemon->Signal(SIGTERM);
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(daemon->Wait(30s), std::optional<int>(0)) << daemon->Output();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
  EXPECT_EQ(Count("微端资源加载完毕！"), 0u) << "ended after " << took.count() << " ms";
  std::printf("SIGTERM during a pass: exit after %lld ms\n", static_cast<long long>(took.count()));
}

TEST_F(DaemonTest, ATakenPortIsAFailedStartAndStatusOne) {
  namespace net = boost::asio;
  net::io_context io;
  net::ip::tcp::acceptor holder(io, net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
  SetPort(holder.local_endpoint().port());
  daemon = std::make_unique<TChildProcess>(BuiltProgram("NuvoClientDaemon"), std::vector<std::string>{}, dir.Path());
  EXPECT_EQ(daemon->Wait(kStartTimeout), std::optional<int>(1)) << daemon->Output();
  EXPECT_EQ(Count("] 微端服务器启动异常！[port " + std::to_string(port) + ": "), 1u) << daemon->Output();
  EXPECT_EQ(Count("微端服务器启动完毕"), 0u);
  EXPECT_EQ(Count("] 微端部署地址: "), 1u);
}

TEST_F(DaemonTest, ClientToolCheckPassesAgainstTheDemoAndFailsWithAnotherPassword) {
  StartDaemon();
  TRunResult ok = RunProgram(BuiltProgram("NuvoClient"), {"check", dir.Path(), Url()}, dir.Path(), 120s);
  std::string output;
  for (const std::string& l : ok.Lines) output += l + "\n";
  EXPECT_EQ(ok.Status, 0) << output;
  ASSERT_FALSE(ok.Lines.empty());
  const size_t items = 1 + demo.Libraries.size() + demo.Maps.size() + demo.Wavs.size();
  EXPECT_EQ(ok.Lines.back(), std::to_string(items) + " checked, 0 failed") << output;

  // The tool takes the password from Config.ini; the running server keeps the key it started with.
  TIniFile ini(dir.PathOf("Config.ini"));
  ini.WriteString("Setup", "WClientPass", "another");
  ini.UpdateFile();
  TRunResult bad = RunProgram(BuiltProgram("NuvoClient"), {"check", dir.Path()}, dir.Path(), 120s);
  EXPECT_EQ(bad.Status, 1);
  size_t fails = 0;
  for (const std::string& l : bad.Lines) fails += l.rfind("FAIL ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(fails, items - 1) << "every resource but the index table";
}

// Every fault the tool's check must report, found in one deployment while the server runs: a
// library file cut short after loading, a listed file that is missing, one the server has not
// loaded, and then the folder without its settings file.
TEST_F(DaemonTest, ClientToolCheckFailsOnEachFaultOfTheDeployment) {
  StartDaemon();
  const TDemoLibrary* wzl = nullptr;
  for (const TDemoLibrary& lib : demo.Libraries) {
    if (lib.Mode == TImageMode::Tarn2Wzl) wzl = &lib;
  }
  ASSERT_NE(wzl, nullptr);
  // Cut the data file where its index places the last stored image: the server has no record for it.
  const std::string index = ReadFileBytes(fs::path(wzl->Path).replace_extension(".wzx").string());
  int32_t last = 0;
  for (size_t at = 48; at + 4 <= index.size(); at += 4) {
    int32_t pos;
    std::memcpy(&pos, index.data() + at, 4);
    if (pos >= 16) last = pos;
  }
  ASSERT_GT(last, 0);
  fs::resize_file(wzl->Path, static_cast<uintmax_t>(last));
  const std::string missing = demo.ClientDir + "/Wav/gone.wav";
  const std::string unloaded = demo.ClientDir + "/Map/new.map";
  WriteFileAtomic(unloaded, "a map written after loading");
  AppendFileBytes(dir.PathOf("WavList.txt"), missing + "\r\n");
  AppendFileBytes(dir.PathOf("MapList.txt"), unloaded + "\r\n");

  const TRunResult run = RunProgram(BuiltProgram("NuvoClient"), {"check", dir.Path(), Url(), "--samples", "all"}, dir.Path(), 120s);
  std::string output;
  std::vector<std::string> fails;
  for (const std::string& l : run.Lines) {
    output += l + "\n";
    if (l.rfind("FAIL ", 0) == 0) fails.push_back(l);
  }
  EXPECT_EQ(run.Status, 1) << output;
  ASSERT_EQ(fails.size(), 3u) << output;
  EXPECT_TRUE(Contains(fails[0], "FAIL " + wzl->Key + ": image ")) << fails[0];
  EXPECT_TRUE(Contains(fails[0], "empty answer")) << fails[0];
  EXPECT_EQ(fails[1], "FAIL \\map\\new.map: empty answer (file not loaded)");
  EXPECT_EQ(fails[2], "FAIL \\wav\\gone.wav: listed file does not exist: " + missing);

  fs::remove(dir.PathOf("Config.ini"));
  const TRunResult bare = RunProgram(BuiltProgram("NuvoClient"), {"check", dir.Path(), Url()}, dir.Path(), 120s);
  EXPECT_EQ(bare.Status, 1);
  ASSERT_FALSE(bare.Lines.empty());
  EXPECT_EQ(bare.Lines.front(), "FAIL settings: no Config.ini in " + dir.Path() + ": a server there serves the defaults");
}

// The tools' command lines: help for each command, and what they refuse before asking anything.
TEST(ClientToolOptions, HelpExitsZeroAndBadValuesAreNamedWithStatusTwo) {
  TempDir folder(false);
  const std::string url = "http://127.0.0.1:1/wclientdat/";
  struct TCase {
    std::string program;
    std::vector<std::string> args;
    int status;
    std::string says;  // a line of the output
  };
  const std::vector<TCase> cases = {
      {"NuvoClient", {"--help"}, 0, "Usage: NuvoClient [OPTIONS] SUBCOMMAND"},
      {"NuvoClient", {"get", "--help"}, 0, "Usage: NuvoClient get [OPTIONS] URL PASSWORD TYPE DIR FILE [IMAGE]"},
      {"NuvoClient", {"indexes", "--help"}, 0, "Usage: NuvoClient indexes [OPTIONS] URL [TOKEN]"},
      {"NuvoClient", {"check", "--help"}, 0, "Usage: NuvoClient check [OPTIONS] FOLDER [URL]"},
      {"NuvoClient", {"targets", "--help"}, 0, "Usage: NuvoClient targets [OPTIONS] FOLDER [URL]"},
      {"NuvoClient", {"mirror", "--help"}, 0, "Usage: NuvoClient mirror [OPTIONS] URL DIR"},
      {"NuvoClient", {}, 2, "A subcommand is required"},
      {"NuvoClient", {"fetch", url}, 2, "unknown command: fetch"},
      {"NuvoClient", {"get", url, "pw", "map", "data", "hum.wzl"}, 2, "TYPE: not a number: map"},
      {"NuvoClient", {"get", "ftp://host/", "pw", "1", "data", "hum.wzl", "0"}, 2, "URL: not an http address: ftp://host/"},
      {"NuvoClient", {"get", url, "pw", "1"}, 2, "DIR is required"},
      {"NuvoClient", {"check", folder.PathOf("absent")}, 2, "FOLDER: Directory does not exist: " + folder.PathOf("absent")},
      {"NuvoClient", {"check", folder.Path(), url, "--samples", "some"}, 2, "--samples: not a number of images or \"all\": some"},
      {"NuvoClient", {"get", url, "pw", "1", "data", "hum.wzl", "0"}, 1, "cannot connect to 127.0.0.1:1: Connection refused"},
      {"NuvoDemoData", {"--help"}, 0, "Usage: NuvoDemoData [OPTIONS] FOLDER [PORT]"},
      {"NuvoDemoData", {folder.Path(), "0"}, 2, "PORT: Value 0 not in range 1 to 65535"},
      {"NuvoDemoData", {folder.Path(), "65536"}, 2, "PORT: Value 65536 not in range 1 to 65535"},
      {"NuvoDemoData", {folder.Path(), "port"}, 2, "PORT: Value port not in range 1 to 65535"},
      {"NuvoDemoData", {}, 2, "FOLDER is required"},
  };
  for (const TCase& c : cases) {
    const TRunResult run = RunProgram(BuiltProgram(c.program), c.args, folder.Path(), 30s);
    std::string output;
    for (const std::string& l : run.Lines) output += l + "\n";
    std::string command = c.program;
    for (const std::string& a : c.args) command += " " + a;
    EXPECT_EQ(run.Status, c.status) << command << "\n" << output;
    EXPECT_TRUE(Contains(output, c.says + "\n")) << command << "\n" << output;
  }
  EXPECT_FALSE(FileExists(folder.PathOf("Config.ini"))) << "a refused port writes nothing";
}

}  // namespace
