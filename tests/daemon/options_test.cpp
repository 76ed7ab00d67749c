// The headless program's command line, its readiness messages to a service manager, and the lines
// it writes about listed resources a load pass did not store.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "client/WClientProbe.h"
#include "platform/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/DaemonInstance.h"
#include "support/DemoData.h"
#include "support/HttpClient.h"
#include "support/PromText.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

const auto kStartTimeout = 60s;

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// Runs the program with one of its two output streams thrown away, in `workDir`.
TRunResult RunDaemonShowing(const std::vector<std::string>& args, bool standardOutput, const std::string& workDir) {
  std::vector<std::string> sh = {"-c", standardOutput ? "exec \"$0\" \"$@\" 2>/dev/null" : "exec \"$0\" \"$@\" >/dev/null",
                                 BuiltProgram("NuvoClientDaemon")};
  sh.insert(sh.end(), args.begin(), args.end());
  return RunProgram("/bin/sh", sh, workDir, 30s);
}

TEST(DaemonOptions, HelpAndVersionGoToStandardOutputWithStatus0) {
  TempDir dir(false);
  const TRunResult help = RunDaemonShowing({"--help"}, true, dir.Path());
  EXPECT_EQ(help.Status, 0);
  const std::string text = Joined(help.Lines);
  EXPECT_NE(text.find("Usage: NuvoClientDaemon"), std::string::npos) << text;
  for (const char* option : {"--dir", "--max-bandwidth", "--listen", "--metrics", "--cache-max-age", "--admin",
                             "--admin-token-file", "--version"})
    EXPECT_NE(text.find(option), std::string::npos) << option;
  EXPECT_TRUE(RunDaemonShowing({"--help"}, false, dir.Path()).Lines.empty());

  const TRunResult version = RunDaemonShowing({"--version"}, true, dir.Path());
  EXPECT_EQ(version.Status, 0);
  ASSERT_EQ(version.Lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(version.Lines[0], std::regex(R"(NuvoClientDaemon \d+\.\d+\.\d+)"))) << version.Lines[0];
  EXPECT_FALSE(DirectoryExists(dir.PathOf("Logs"))) << "nothing served";
}

TEST(DaemonOptions, AnUnknownOptionOrABadValueGivesUsageAndReasonOnStandardErrorAndStatus2) {
  TempDir dir(false);
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"}, {"serve"}, {"--dir"}, {"--dir", dir.PathOf("nowhere")},
      {"--max-bandwidth", "-1"}, {"--max-bandwidth", "4096"}, {"--max-bandwidth", "ten"}, {"--max-bandwidth", "1.5"},
      {"--listen", "localhost"}, {"--listen", "127.0.0"}, {"--listen", ""},
      {"--metrics", "127.0.0.1"}, {"--metrics", "127.0.0.1:0"}, {"--metrics", "127.0.0.1:65536"},
      {"--metrics", "127.0.0.1:9x"}, {"--metrics", "metrics.host:9100"}, {"--metrics", ":9100"},
      {"--admin", "127.0.0.1"}, {"--admin", "127.0.0.1:0"}, {"--admin", "localhost:9801"}, {"--admin-token-file"},
      {"--cache-max-age", "-5"}, {"--cache-max-age", "soon"}, {"--cache-max-age", "2147483648"}};
  for (const auto& args : cases) {
    const std::string name = args[0] + (args.size() > 1 ? " '" + args[1] + "'" : "");
    const TRunResult err = RunDaemonShowing(args, false, dir.Path());
    EXPECT_EQ(err.Status, 2) << name;
    const std::string text = Joined(err.Lines);
    EXPECT_NE(text.find("Usage: NuvoClientDaemon"), std::string::npos) << name;
    ASSERT_FALSE(err.Lines.empty()) << name;
    EXPECT_EQ(err.Lines.back().rfind("NuvoClientDaemon: ", 0), 0u) << name << ": " << err.Lines.back();
    const TRunResult out = RunDaemonShowing(args, true, dir.Path());
    EXPECT_EQ(out.Status, 2) << name;
    EXPECT_TRUE(out.Lines.empty()) << name << ": " << Joined(out.Lines);
  }
  EXPECT_FALSE(DirectoryExists(dir.PathOf("Logs"))) << "nothing served";
}

// The demo installation, with the program started elsewhere and pointed at it by the options.
class DaemonOptionsRun : public ::testing::Test {
 protected:
  void SetUp() override { demo = WriteDemoData(dir.PathOf("demo"), 0); }
  void TearDown() override {
    if (d.Process && d.Process->Running()) {
      d.Process->Signal(SIGTERM);
      EXPECT_EQ(d.Process->Wait(30s), std::optional<int>(0)) << d.Process->Output();
    }
  }

  TempDir dir{false};
  TDemoData demo;
  TDaemonInstance d;
};

TEST_F(DaemonOptionsRun, DirListenAndMetricsServeTheFolderOnTheInterfaceWithItsOwnMetricsPort) {
  const uint16_t metricsPort = FreeLoopbackPort();
  d = StartDaemonIn(demo.Folder, kStartTimeout,
                    {"--dir", demo.Folder, "--metrics", "127.0.0.1:" + std::to_string(metricsPort),
                     "--max-bandwidth", "0", "--cache-max-age", "600"},
                    dir.Path());
  EXPECT_TRUE(DirectoryExists(demo.Folder + "/Logs")) << "the work log goes to the folder named";
  EXPECT_FALSE(DirectoryExists(dir.PathOf("Logs")));
  EXPECT_EQ(HttpGet(metricsPort, "/healthz").Status, 200u);
  const std::string answered = R"(nuvo_requests_total{type="image",outcome="answered"})";
  const std::string raw = R"(nuvo_response_bytes_total{form="raw"})", sent = R"(nuvo_response_bytes_total{form="sent"})";
  const std::string timed = "nuvo_request_duration_seconds_count";
  auto before = ParsePromText(HttpGet(metricsPort, "/metrics").Body);
  std::string sDir, sLib;
  ASSERT_TRUE(SplitCatalogueKey(demo.Libraries[0].Key, sDir, sLib));
  size_t bodies = 0;
  for (int i = 0; i < 3; ++i) {
    const THttpReply r = HttpGet(d.Port, WClientTarget(demo.WClientPass, 1, sDir, sLib, std::to_string(i)));
    EXPECT_EQ(r.Status, 200u);
    EXPECT_EQ(r.Header("Cache-Control"), "max-age=600");
    bodies += r.Body.size();
  }
  // A response is counted once its last bytes are written, which may come just after the client
  // has read them.
  auto after = ParsePromText(HttpGet(metricsPort, "/metrics").Body);
  for (int i = 0; i < 100 && after.at(timed) - before.at(timed) < 3; ++i) {
    std::this_thread::sleep_for(20ms);
    after = ParsePromText(HttpGet(metricsPort, "/metrics").Body);
  }
  EXPECT_EQ(after.at(answered) - before.at(answered), 3);
  EXPECT_EQ(after.at(raw) - before.at(raw), static_cast<double>(bodies)) << "no coding asked for";
  EXPECT_EQ(after.at(sent) - before.at(sent), static_cast<double>(bodies));
  EXPECT_EQ(after.at(timed) - before.at(timed), 3) << "the scrapes are not counted";
  EXPECT_EQ(HttpGet(d.Port, "/metrics").Status, 404u) << "never on the game port";
}

TEST_F(DaemonOptionsRun, ListenBindsOnlyTheAddressGiven) {
  const uint16_t port = FreeLoopbackPort();
  WriteConfigPort(demo.Folder, port);
  d.Process = std::make_unique<TChildProcess>(BuiltProgram("NuvoClientDaemon"),
                                              std::vector<std::string>{"--listen", "127.0.0.2"}, demo.Folder);
  const std::string url = "http://127.0.0.2:" + std::to_string(port) + "/wclientdat/";
  ASSERT_TRUE(d.Process->WaitForLine([&](const std::string& l) { return l.find("微端部署地址: " + url) != std::string::npos; },
                                     kStartTimeout))
      << d.Process->Output();
  TWClientConnection conn(url);
  std::string sDir, sLib;
  ASSERT_TRUE(SplitCatalogueKey(demo.Maps[0].Key, sDir, sLib));
  const TWClientAnswer a = conn.Get(WClientTarget(demo.WClientPass, 3, sDir, sLib, ""), false);
  EXPECT_EQ(a.Error, "");
  EXPECT_EQ(a.Status, 200u);
  EXPECT_THROW(HttpGet(port, "/wclientdat/"), std::exception) << "127.0.0.1 is not bound";
}

// A datagram socket standing in for the service manager's notify socket.
class TNotifySocket {
 public:
  explicit TNotifySocket(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("bind " + path);
    timeval tv{0, 200000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~TNotifySocket() {
    close(fd_);
    unlink(path_.c_str());
  }
  // Every message that arrives within `wait`, STATUS= ones left out (kept apart).
  void Receive(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end) {
      char buf[4096];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) continue;
      std::string m(buf, static_cast<size_t>(n));
      (m.rfind("STATUS=", 0) == 0 ? Status : States).push_back(m);
    }
  }
  std::vector<std::string> States, Status;

 private:
  std::string path_;
  int fd_ = -1;
};

TEST_F(DaemonOptionsRun, TellsTheServiceManagerReadyReloadingReadyStoppingInOrder) {
  TNotifySocket notify(dir.PathOf("notify.sock"));
  // The child takes the variable from this process's environment when it is started.
  setenv("NOTIFY_SOCKET", dir.PathOf("notify.sock").c_str(), 1);
  d = StartDaemonIn(demo.Folder, kStartTimeout);
  unsetenv("NOTIFY_SOCKET");
  EXPECT_EQ(HttpGet(d.Port, "/wclientdat/x/1.html").Status, 404u);  // traffic for the status line
  notify.Receive(1500ms);
  d.Process->Signal(SIGHUP);
  ASSERT_TRUE(d.Process->WaitForLine([](const std::string& l) { return l.find("微端部署地址: ") != std::string::npos; },
                                     kStartTimeout, d.Process->Lines().size()));
  notify.Receive(300ms);
  d.Process->Signal(SIGTERM);
  EXPECT_EQ(d.Process->Wait(30s), std::optional<int>(0));
  notify.Receive(300ms);
  EXPECT_EQ(notify.States, (std::vector<std::string>{"READY=1", "RELOADING=1", "READY=1", "STOPPING=1"}));
  ASSERT_FALSE(notify.Status.empty());
  EXPECT_NE(notify.Status.back().find("STATUS=请求: 0/错误：1/"), std::string::npos) << notify.Status.back();
}

// Nobody is there to start the service after a failed first pass: a failed start, told to the
// service manager with its reason.
TEST_F(DaemonOptionsRun, AFailedFirstPassEndsWithStatusOne) {
  WriteConfigPort(demo.Folder, FreeLoopbackPort());
  // A file that is there, but every read of it fails.
  WriteBytes(demo.Folder + "/MapList.txt", ReadFileBytes(demo.Folder + "/MapList.txt") + "\r\n/proc/self/mem\r\n");
  TNotifySocket notify(dir.PathOf("notify.sock"));
  setenv("NOTIFY_SOCKET", dir.PathOf("notify.sock").c_str(), 1);
  d.Process = std::make_unique<TChildProcess>(BuiltProgram("NuvoClientDaemon"), std::vector<std::string>{}, demo.Folder);
  unsetenv("NOTIFY_SOCKET");
  EXPECT_EQ(d.Process->Wait(kStartTimeout), std::optional<int>(1)) << d.Process->Output();
  notify.Receive(300ms);
  const std::string all = d.Process->Output();
  EXPECT_NE(all.find("] [Exception] TGameLib::Execute Error \n"), std::string::npos) << all;
  EXPECT_NE(all.find("] /proc/self/mem 加载失败: "), std::string::npos) << all;
  EXPECT_EQ(all.find("微端服务器启动完毕"), std::string::npos) << all;
  EXPECT_EQ(notify.States, std::vector<std::string>{"STOPPING=1"}) << "never READY";
  ASSERT_EQ(notify.Status.size(), 1u);
  EXPECT_EQ(notify.Status[0].rfind("STATUS=/proc/self/mem 加载失败: ", 0), 0u) << notify.Status[0];
}

TEST_F(DaemonOptionsRun, WritesALinePerListedResourceNotStoredAndTheCount) {
  const std::string missing = demo.ClientDir + "/Data/Gone.jpk";
  const std::string notLibrary = demo.ClientDir + "/Data/Readme.txt";
  WriteBytes(notLibrary, "not a library");
  std::string jpk = ReadFileBytes(demo.Folder + "/JpkList.txt");
  const TDemoLibrary* wrong = nullptr;
  for (const TDemoLibrary& lib : demo.Libraries)
    if (!wrong && lib.Path.find(".jpk") != std::string::npos) wrong = &lib;
  ASSERT_NE(wrong, nullptr);
  const size_t at = jpk.find(wrong->Path + "|" + wrong->PassWord);
  ASSERT_NE(at, std::string::npos);
  jpk.replace(at, wrong->Path.size() + 1 + wrong->PassWord.size(), wrong->Path + "|not-the-password");
  jpk += "\n" + missing + "|x\n" + notLibrary + "|x\n";
  WriteBytes(demo.Folder + "/JpkList.txt", jpk);

  d = StartDaemonIn(demo.Folder, kStartTimeout);
  const size_t listed = demo.Libraries.size() + demo.Maps.size() + demo.Wavs.size() + 2;
  const std::string all = d.Process->Output();
  for (const std::string& line : {wrong->Path + " (密码错误)", missing + " (文件不存在)", notLibrary + " (不是资源库文件)"})
    EXPECT_NE(all.find("] 未加载: " + line + "\n"), std::string::npos) << line << "\n" << all;
  EXPECT_NE(all.find("] 资源已加载 " + std::to_string(listed - 3) + "/" + std::to_string(listed) + "\n"), std::string::npos)
      << all;
  // After the pass's own lines, before the service starts.
  EXPECT_LT(all.find("微端资源加载完毕！"), all.find("未加载: "));
  EXPECT_LT(all.find("资源已加载 "), all.find("微端部署地址: "));
}

}  // namespace
