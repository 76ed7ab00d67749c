// The browser console of the headless program end to end: its listener, token file and API over
// real HTTP while the program serves the demo installation.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/AdminApi.h"
#include "platform/FileSystem.h"
#include "support/ChildProcess.h"
#include "support/DaemonInstance.h"
#include "support/DemoData.h"
#include "support/HttpClient.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const auto kStartTimeout = 60s;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class AdminConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = WriteDemoData(dir.Path(), 0);
    // A library whose password is wrong, and one whose file is gone.
    const TDemoLibrary* jpk = nullptr;
    for (const auto& lib : demo.Libraries)
      if (!lib.PassWord.empty()) jpk = &lib;
    ASSERT_NE(jpk, nullptr);
    const std::string folder = fs::path(jpk->Path).parent_path().string();
    fs::copy_file(jpk->Path, folder + "/locked.jpk");
    AppendFileBytes(demo.Folder + "/JpkList.txt",
                    folder + "/locked.jpk|not-the-password\r\n" + folder + "/missing.jpk|" + jpk->PassWord + "\r\n");
  }
  void TearDown() override {
    if (d.Process && d.Process->Running()) {
      d.Process->Signal(SIGTERM);
      EXPECT_EQ(d.Process->Wait(30s), std::optional<int>(0)) << d.Process->Output();
    }
  }

  // Starts the program with its console on a free port; reads the token from its file.
  void Start(const std::string& tokenFile = "admin.token") {
    adminPort = FreeLoopbackPort();
    d = StartDaemonIn(dir.Path(), kStartTimeout,
                      {"--admin", "127.0.0.1:" + std::to_string(adminPort), "--admin-token-file", tokenFile});
    token = ReadFileBytes(dir.PathOf(tokenFile));
    while (!token.empty() && token.back() == '\n') token.pop_back();
  }

  THttpReply Api(const std::string& method, const std::string& target) {
    return HttpRequest(adminPort, method, target, {{"Authorization", "Bearer " + token}});
  }

  // Waits until `target` answers a body holding `part`.
  std::string WaitFor(const std::string& target, const std::string& part) {
    std::string body;
    for (auto until = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < until;) {
      body = Api("GET", target).Body;
      if (Has(body, part)) return body;
      std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "no " << part << " in " << target << ": " << body;
    return body;
  }

  TempDir dir{false};
  TDemoData demo;
  TDaemonInstance d;
  uint16_t adminPort = 0;
  std::string token;
};

TEST_F(AdminConsoleTest, TokenFileAddressLineAndEveryApiPathUnderTheToken) {
  Start();
  struct stat st {};
  ASSERT_EQ(::stat(dir.PathOf("admin.token").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{64}"))) << token;

  // The console's address with the token in its fragment, printed once.
  const std::string line = "浏览器控制台: http://127.0.0.1:" + std::to_string(adminPort) + "/#token=" + token;
  int printed = 0;
  for (const std::string& l : d.Process->Lines()) printed += l == line;
  EXPECT_EQ(printed, 1) << d.Process->Output();

  WaitFor("/api/status", "\"state\":\"运行中\"");  // the panels follow the address line
  for (const TAdminApiPath& p : AdminApiPaths()) {
    for (const char* method : {"GET", "POST"}) {
      const THttpReply reply = HttpRequest(adminPort, method, std::string(p.Path));
      EXPECT_EQ(reply.Status, 401u) << method << " " << p.Path;
      EXPECT_TRUE(reply.Body.empty()) << reply.Body;
      EXPECT_FALSE(reply.Has("Set-Cookie"));
    }
  }
  EXPECT_EQ(Api("GET", "/api/status").Status, 401u) << "after so many failures this address waits, token or not";
  // What --metrics serves, and the page's own files, need no token; the game port serves none.
  EXPECT_EQ(HttpGet(adminPort, "/healthz").Status, 200u);
  EXPECT_TRUE(Has(HttpGet(adminPort, "/metrics").Body, "nuvo_service_up 1"));
  const THttpReply page = HttpGet(adminPort, "/");
  EXPECT_EQ(page.Status, 200u);
  EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_FALSE(Has(page.Body, token));
  const THttpReply chart = HttpGet(adminPort, "/chart.min.js", {{"Accept-Encoding", "deflate"}});
  EXPECT_EQ(chart.Status, 200u);
  EXPECT_EQ(chart.Header("Content-Encoding"), "deflate");
  EXPECT_TRUE(Has(InflateRaw(chart.Body), "Chart.js v")) << "Debian's Chart.js, built in";
  EXPECT_EQ(HttpGet(adminPort, "/nothing").Status, 404u);
  EXPECT_EQ(HttpGet(d.Port, "/api/status").Status, 404u) << "never on the game port";
}

TEST_F(AdminConsoleTest, ResourceViewCommandsAndTheLogThroughTheApi) {
  Start();
  const std::string resources = WaitFor("/api/resources", "\"pass\":1");
  EXPECT_TRUE(Has(resources, "locked.jpk\",\"state\":\"密码错误\",\"ok\":false")) << resources;
  EXPECT_TRUE(Has(resources, "missing.jpk\",\"state\":\"文件不存在\",\"ok\":false,\"size\":null")) << resources;
  EXPECT_TRUE(Has(resources, "\"state\":\"正常\",\"ok\":true")) << resources;
  const size_t listed = demo.Libraries.size() + demo.Maps.size() + demo.Wavs.size() + 2;
  EXPECT_TRUE(Has(resources, "\"stored\":" + std::to_string(listed - 2) + ",\"listed\":" + std::to_string(listed)));

  // Reload: the pass's lines come through the log, and a second resource view.
  const std::string status = Api("GET", "/api/status").Body;
  const std::smatch next = [&] {
    std::smatch m;
    std::regex_search(status, m, std::regex("\"logNext\":(\\d+)"));
    return m;
  }();
  ASSERT_FALSE(next.empty()) << status;
  EXPECT_EQ(Api("GET", "/api/reload").Status, 405u);
  EXPECT_EQ(Api("POST", "/api/reload").Status, 200u);
  WaitFor("/api/resources", "\"pass\":2");
  WaitFor("/api/log?since=" + next[1].str(), "资源已加载 " + std::to_string(listed - 2) + "/");

  EXPECT_EQ(Api("POST", "/api/stop").Status, 200u);
  EXPECT_TRUE(Has(Api("GET", "/api/status").Body, "\"state\":\"已停止\""));
  EXPECT_EQ(HttpGet(adminPort, "/healthz").Status, 503u);
  EXPECT_EQ(Api("POST", "/api/start").Status, 200u);
  EXPECT_TRUE(Has(Api("GET", "/api/status").Body, "\"state\":\"运行中\""));
  EXPECT_EQ(HttpGet(d.Port, "/wclientdat/x/1.html").Status, 404u) << "the game port answers again";
  EXPECT_EQ(Api("POST", "/api/unload").Status, 200u);
  EXPECT_TRUE(Has(Api("GET", "/api/resources").Body, "\"unloaded\":true"));
  WaitFor("/api/log?since=0", "卸载资源完毕..");
}

TEST_F(AdminConsoleTest, TheTokenIsKeptAcrossRestartsInTheFileNamed) {
  Start();
  const std::string first = token;
  d.Process->Signal(SIGTERM);
  ASSERT_EQ(d.Process->Wait(30s), std::optional<int>(0));
  Start();
  EXPECT_EQ(token, first);
  EXPECT_EQ(Api("GET", "/api/status").Status, 200u);

  d.Process->Signal(SIGTERM);
  ASSERT_EQ(d.Process->Wait(30s), std::optional<int>(0));
  Start("elsewhere.token");
  EXPECT_NE(token, first);
  EXPECT_EQ(Api("GET", "/api/status").Status, 200u);
  token = first;
  EXPECT_EQ(Api("GET", "/api/status").Status, 401u) << "only the file named counts";
}

TEST_F(AdminConsoleTest, NeitherTheGamePortNorAnUnsafeTokenFileOpensAConsole) {
  dir.WriteFile("loose.token", std::string(64, 'a'));
  ::chmod(dir.PathOf("loose.token").c_str(), 0644);
  const struct {
    std::string tokenFile;
    bool gamePort;
    std::string complaint;
  } cases[] = {
      {"admin.token", true, ": that is the game port"},
      {"loose.token", false, ": loose.token may be read by others than its owner"},
  };
  for (const auto& c : cases) {
    const uint16_t port = FreeLoopbackPort();
    const uint16_t asked = c.gamePort ? port : FreeLoopbackPort();
    WriteConfigPort(dir.Path(), port);
    TChildProcess p(BuiltProgram("NuvoClientDaemon"),
                    {"--admin", "127.0.0.1:" + std::to_string(asked), "--admin-token-file", c.tokenFile}, dir.Path());
    ASSERT_TRUE(p.WaitForLine([&](const std::string& l) { return Has(l, "微端部署地址: "); }, kStartTimeout)) << p.Output();
    EXPECT_TRUE(Has(p.Output(), "admin 127.0.0.1:" + std::to_string(asked) + c.complaint)) << p.Output();
    EXPECT_FALSE(Has(p.Output(), "浏览器控制台")) << p.Output();
    EXPECT_EQ(HttpGet(port, "/api/status").Status, 404u) << "the game port serves the game only";
    if (!c.gamePort) EXPECT_THROW(HttpGet(asked, "/"), std::exception) << "nothing listens";
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(30s), std::optional<int>(0)) << p.Output();
  }
}

}  // namespace
