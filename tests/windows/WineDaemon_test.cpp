// The Windows build of the headless program under Wine, asked by this Linux build's client code
// and client tool: every request form, the refusals, the deflate coding, the bandwidth cap, a
// reload, a fresh service object and the stop, on installations under a Chinese folder name.
// Runs when NUVO_WINDOWS_BUILD_DIR names the cross build (./test.sh windows); skipped otherwise.
#include <utility>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/WClientProbe.h"
#include "formats/ZStream.h"
#include "platform/AsciiText.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"
#include "service/uHttpServer.h"
#include "support/ChildProcess.h"
#include "support/DaemonInstance.h"
#include "support/DemoData.h"
#include "support/HttpClient.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

const auto kWineTimeout = 120s;  // Wine starting a program on a busy machine
const std::string kStarted = "] 微端部署地址: ";

std::string WindowsBuild() {
  const char* dir = std::getenv("NUVO_WINDOWS_BUILD_DIR");
  return dir ? dir : "";
}

std::string Wine() {
  const char* wine = std::getenv("NUVO_WINE");
  return wine && *wine ? wine : "/usr/bin/wine";
}

// How a Windows program under Wine names a file of this machine.
std::string WindowsPath(const std::string& path) {
  std::string out = "Z:" + path;
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

bool Contains(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

class WineDaemonTest : public ::testing::Test {
 protected:
  // Wine starts its own system processes with the first program of a prefix, and they would keep
  // that program's output pipe open: start them first, with no pipe of ours, in a server that
  // stays for the whole run.
  static void SetUpTestSuite() {
    if (WindowsBuild().empty()) return;
    const std::string wineserver = std::filesystem::path(Wine()).parent_path() / "wineserver";
    std::system((wineserver + " -p >/dev/null 2>&1 && " + Wine() + " wineboot >/dev/null 2>&1").c_str());
  }
  void SetUp() override {
    if (WindowsBuild().empty() || !FileExists(Exe("NuvoClientDaemon"))) {
      GTEST_SKIP() << "no Windows build (NUVO_WINDOWS_BUILD_DIR): ./test.sh windows runs these";
    }
    folder = dir.PathOf("微端 资源");
    demo = WriteDemoData(folder, 0);
  }
  void TearDown() override {
    if (daemon && daemon->Running()) {
      Control("stop");
      daemon->Wait(kWineTimeout);
    }
  }

  static std::string Exe(const std::string& name) { return WindowsBuild() + "/" + name + ".exe"; }

  // Runs a Windows program of the build to its end in `folder`.
  TRunResult RunWindows(const std::string& name, std::vector<std::string> args) const {
    args.insert(args.begin(), Exe(name));
    return RunProgram(Wine(), args, folder, kWineTimeout);
  }

  void StartDaemon(const std::vector<std::string>& options = {}) {
    port = FreeLoopbackPort();
    WriteConfigPort(folder, port);
    std::vector<std::string> args = {Exe("NuvoClientDaemon")};
    args.insert(args.end(), options.begin(), options.end());
    daemon = std::make_unique<TChildProcess>(Wine(), args, folder);
    ASSERT_TRUE(WaitCount(kStarted, 1)) << daemon->Output();
    conn = std::make_unique<TWClientConnection>(Url());
  }
  // The program's control command, sent to the one running in the folder.
  void Control(const std::string& what) {
    const TRunResult r = RunWindows("NuvoClientDaemon", {"--control", what});
    EXPECT_EQ(r.Status, 0) << what;
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
  bool WaitCount(const std::string& part, size_t n) const {
    const auto deadline = std::chrono::steady_clock::now() + kWineTimeout;
    while (Count(part) < n) {
      if (std::chrono::steady_clock::now() > deadline || !daemon->Running()) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  std::vector<std::string> WorkLogNames() const {
    std::vector<std::string> names = ListFiles(folder + "/Logs");
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir{false};
  std::string folder;
  TDemoData demo;
  uint16_t port = 0;
  std::unique_ptr<TChildProcess> daemon;
  std::unique_ptr<TWClientConnection> conn;
};

TEST_F(WineDaemonTest, LinuxClientToolChecksEveryItemOfTheWindowsServer) {
  StartDaemon();
  const TRunResult check = RunProgram(BuiltProgram("NuvoClient"), {"check", folder, Url()}, folder, kWineTimeout);
  std::string output;
  for (const std::string& l : check.Lines) output += l + "\n";
  EXPECT_EQ(check.Status, 0) << output;
  const size_t items = 1 + demo.Libraries.size() + demo.Maps.size() + demo.Wavs.size();
  ASSERT_FALSE(check.Lines.empty());
  EXPECT_EQ(check.Lines.back(), std::to_string(items) + " checked, 0 failed") << output;
}

TEST_F(WineDaemonTest, AnswersEveryFormRefusesCodesAndLogsInCodePage936) {
  StartDaemon();
  // Images and headers of both library kinds, with their layouts checked.
  for (const TDemoLibrary& lib : demo.Libraries) {
    const TWClientAnswer header = conn->Get(Target(kTypeImage, lib.Key, "Header"));
    EXPECT_EQ(CheckHeaderPayload(header.Body, nullptr), "") << lib.Key;
    const TWClientAnswer image = conn->Get(Target(kTypeImage, lib.Key, "0"));
    EXPECT_EQ(CheckImagePayload(image.Body, 0, 0, nullptr), "") << lib.Key;
  }
  // Maps and wavs: stored zlib streams of the files, with and without the deflate coding.
  size_t coded = 0;
  const auto stored = [&](int nType, const TDemoFile& f) {
    const std::string onDisk = ReadFileBytes(f.Path);
    const THttpReply plain = HttpGet(port, Target(nType, f.Key));
    EXPECT_FALSE(plain.Has("Content-Encoding")) << f.Key;
    EXPECT_EQ(ZlibInflate(plain.Body), std::optional<std::string>(onDisk)) << f.Key;
    // Bodies too small to gain from the coding are sent as they are.
    const THttpReply asked = HttpGet(port, Target(nType, f.Key), {{"Accept-Encoding", "deflate"}});
    if (!asked.Has("Content-Encoding")) {
      EXPECT_EQ(asked.Body, plain.Body) << f.Key;
      return;
    }
    ++coded;
    EXPECT_EQ(asked.Header("Content-Encoding"), "deflate") << f.Key;
    EXPECT_EQ(InflateRaw(asked.Body), plain.Body) << f.Key;
  };
  for (const TDemoFile& f : demo.Maps) stored(kTypeMap, f);
  for (const TDemoFile& f : demo.Wavs) stored(kTypeWav, f);
  EXPECT_GT(coded, 0u);
  // The index table once per token, then refused.
  const TWClientAnswer table = conn->Get("/wclientdat/A/check-indexes");
  EXPECT_EQ(CheckIndexTable(table.Body, nullptr), "");
  const std::string nopipe = "/wclientdat/" + WClientToken(demo.WClientPass, "nopipe") + "/1.html";
  const std::vector<std::pair<std::string, int32_t>> refusals = {
      {"/wclientdat/A/check-indexes", -99}, {"/wclientdat/TOKEN/3.htm", -2},
      {"/wclientdat/TOKEN/7.html", -3},     {nopipe, -4}};
  for (const auto& [target, code] : refusals) {
    const THttpReply r = HttpGet(port, target);
    EXPECT_EQ(r.Status, 404u) << target;
    EXPECT_EQ(r.Body, GetErrorMsg(code)) << target;
  }
  // The work log is written in code page 936 (WorkLogLines decodes it), appended line by line.
  std::vector<std::string> lines;
  for (int i = 0; i < 100 && lines.size() < 3; ++i) {
    const std::vector<std::string> names = WorkLogNames();
    if (!names.empty()) lines = WorkLogLines(folder + "/Logs/" + names.back());
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"错误格式：/wclientdat/TOKEN/3.htm", "错误资源：/wclientdat/TOKEN/7.html/7",
                                             "解密失败：" + nopipe + "/nopipe"}));
}

TEST_F(WineDaemonTest, ControlCommandReloadsRestartsAndStops) {
  StartDaemon();
  ASSERT_EQ(conn->Get("/wclientdat/A/check-indexes").Status, 200u);
  ASSERT_EQ(conn->Get("/wclientdat/A/check-indexes").Status, 404u);
  Control("reload");
  ASSERT_TRUE(WaitCount(kStarted, 2)) << daemon->Output();
  EXPECT_EQ(conn->Get("/wclientdat/A/check-indexes").Status, 404u) << "a reload keeps the service object";
  std::this_thread::sleep_for(1100ms);  // a new work log needs a new second in its name
  Control("restart");
  ASSERT_TRUE(WaitCount(kStarted, 3)) << daemon->Output();
  EXPECT_EQ(Count("] 微端服务器已停止.."), 1u);
  EXPECT_EQ(conn->Get("/wclientdat/A/check-indexes").Status, 200u) << "a fresh service object";
  Control("stop");
  EXPECT_EQ(daemon->Wait(kWineTimeout), std::optional<int>(0)) << daemon->Output();
  // With nothing running in the folder the command says so.
  EXPECT_EQ(RunWindows("NuvoClientDaemon", {"--control", "reload"}).Status, 1);
}

TEST_F(WineDaemonTest, CtrlCStopsItAsTheConsoleDoes) {
  StartDaemon();
  daemon->Signal(SIGINT);  // Wine hands it to the program as Ctrl+C
  EXPECT_EQ(daemon->Wait(kWineTimeout), std::optional<int>(0)) << daemon->Output();
}

TEST_F(WineDaemonTest, BandwidthCapHoldsTheSendRate) {
  // A wav of 3 MB that does not compress, served at 1 MB/s.
  std::string noise(3 << 20, '\0');
  uint32_t x = 12345;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  const std::string wav = demo.ClientDir + "/Wav/noise.wav";
  WriteFileAtomic(wav, noise);
  std::vector<std::string> wavs = ReadTextLines(folder + "/WavList.txt");
  wavs.push_back(wav);
  WriteTextLines(folder + "/WavList.txt", wavs);
  StartDaemon({"--max-bandwidth", "1"});
  const auto start = std::chrono::steady_clock::now();
  const TWClientAnswer a = conn->Get(Target(kTypeWav, "\\wav\\noise.wav"), false);
  const auto took = std::chrono::steady_clock::now() - start;
  std::string inflated;
  EXPECT_EQ(CheckStreamPayload(a.Body, &inflated), "");
  EXPECT_EQ(inflated, noise);
  // The cap is a ceiling: a slower machine only takes longer.
  EXPECT_GE(took, 1500ms) << a.Body.size() << " bytes";
}

TEST_F(WineDaemonTest, ServesWindowsPathsWithBackslashesToTheWindowsClientTool) {
  // The lists and Config.ini as a Windows operator writes them (code page 936, CR LF).
  for (const char* list : {"JpkList.txt", "WzlList.txt", "MapList.txt", "WavList.txt"}) {
    std::vector<std::string> lines = ReadTextLines(folder + "/" + list);
    for (std::string& line : lines) {
      if (line.empty() || line[0] == ';') continue;
      const size_t bar = line.find('|');  // a JPK line carries its password after the path
      line = WindowsPath(line.substr(0, bar)) + (bar == std::string::npos ? "" : line.substr(bar));
    }
    WriteTextLines(folder + "/" + list, lines);
  }
  TIniFile ini(folder + "/Config.ini");
  ini.WriteString("Setup", "SearchDir", WindowsPath(demo.ClientDir));
  ini.UpdateFile();
  ASSERT_TRUE(Contains(ReadFileBytes(folder + "/WzlList.txt"), "\\client\\Data\\"));
  StartDaemon();
  EXPECT_EQ(Count("未加载"), 0u) << daemon->Output();
  const TRunResult check = RunWindows("NuvoClient", {"check", WindowsPath(folder), Url()});
  std::string output;
  for (const std::string& l : check.Lines) output += l + "\n";
  EXPECT_EQ(check.Status, 0) << output;
  const size_t items = 1 + demo.Libraries.size() + demo.Maps.size() + demo.Wavs.size();
  ASSERT_FALSE(check.Lines.empty());
  EXPECT_EQ(check.Lines.back(), std::to_string(items) + " checked, 0 failed") << output;
}

}  // namespace
