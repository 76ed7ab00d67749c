#include "app/uServiceControl.h"

#include <utility>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/uGameLib.h"
#include "support/DemoData.h"
#include "formats/MD5.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"
#include "settings/TarnShare.h"
#include "support/HttpClient.h"
#include "support/LogLines.h"
#include "support/SharedStateTest.h"
#include "service/ServiceState.h"
#include "service/RequestToken.h"

namespace {

using namespace std::chrono_literals;
using TPanels = std::tuple<std::string, std::string, std::string>;

// What the service control shows, recorded from whichever thread shows it.
class TRecordedView {
 public:
  TServiceView View() {
    TServiceView v;
    v.SetPanels = [this](const std::string& a, const std::string& b, const std::string& c) {
      std::lock_guard hold(lock_);
      panels_.emplace_back(a, b, c);
    };
    v.ShowLabel = [this](const std::string& s) {
      std::lock_guard hold(lock_);
      labels_.push_back(Utf8FromAnsi(s));
    };
    v.ServiceStarted = [this](bool started) {
      std::lock_guard hold(lock_);
      starts_.push_back(started);
      changed_.notify_all();
    };
    return v;
  }
  // Waits for the n-th start result (1-based); false when it does not come.
  bool WaitStart(size_t n, bool& started) {
    std::unique_lock hold(lock_);
    if (!changed_.wait_for(hold, 20s, [&] { return starts_.size() >= n; })) return false;
    started = starts_[n - 1];
    return true;
  }
  TPanels LastPanels() {
    std::lock_guard hold(lock_);
    return panels_.empty() ? TPanels{} : panels_.back();
  }
  std::vector<TPanels> Panels() {
    std::lock_guard hold(lock_);
    return panels_;
  }
  std::string LastLabel() {
    std::lock_guard hold(lock_);
    return labels_.empty() ? std::string() : labels_.back();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<TPanels> panels_;
  std::vector<std::string> labels_;
  std::vector<bool> starts_;
};

// Every queued log line so far, without the "[date time] " prefix, kept across drains.
class TLog {
 public:
  const std::vector<std::string>& Lines() {
    for (std::string& line : DrainLogQueue()) lines_.push_back(std::move(line));
    return lines_;
  }
  bool Has(const std::string& line) {
    const auto& all = Lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  size_t Count(const std::string& line) {
    const auto& all = Lines();
    return static_cast<size_t>(std::count(all.begin(), all.end(), line));
  }

 private:
  std::vector<std::string> lines_;
};

// The demo installation in the test's directory, served on a free port.
class ServiceControlTest : public SharedStateTest {
 protected:
  void SetUp() override {
    SharedStateTest::SetUp();
    port = FreeLoopbackPort();
    demo = WriteDemoData(dir_.Path(), port);
    // The start sequence strips the separators an operator may leave after the directory.
    TIniFile ini("./Config.ini");
    ini.WriteString("Setup", "SearchDir", demo.ClientDir + "//");
    ini.UpdateFile();
  }

  std::string MapTarget() const {
    return "/wclientdat/" + SimpleEnStringMsg("map\\mir|0.map", MD5String(demo.WClientPass)) + "/3.html";
  }
  std::string Port() const { return std::to_string(port); }

  uint16_t port = 0;
  TDemoData demo;
  TRecordedView view;
  TLog log;
};

TEST_F(ServiceControlTest, StartSequenceLoadsTheCatalogueThenStartsTheService) {
  TServiceControl control(view.View());
  control.FormCreate();
  EXPECT_EQ(view.Panels().front(), (TPanels{"[-]", "启动中", "[-]"}));
  EXPECT_EQ(g_sSearchDir, demo.ClientDir);
  EXPECT_EQ(g_nServerPort, port);
  bool started = false;
  ASSERT_TRUE(view.WaitStart(1, started));
  EXPECT_TRUE(started);
  EXPECT_TRUE(g_boStart);

  const auto& lines = log.Lines();
  const auto at = [&](const std::string& s) { return std::find(lines.begin(), lines.end(), s) - lines.begin(); };
  const auto end = static_cast<ptrdiff_t>(lines.size());
  EXPECT_LT(at("程序更新:v2.1 2024/7/2"), at("程序开发:WWW.NUVOCLIENT.EXAMPLE"));
  EXPECT_LT(at("程序开发:WWW.NUVOCLIENT.EXAMPLE"), at("程序名称:微端服务器(IIS+HTTP)"));
  EXPECT_LT(at("程序名称:微端服务器(IIS+HTTP)"), end);
  EXPECT_LT(at("微端资源加载完毕！"), at("微端服务器启动完毕！[" + Port() + "]"));
  EXPECT_EQ(at("微端服务器启动完毕！[" + Port() + "]") + 1,
            at("微端部署地址: http://127.0.0.1:" + Port() + "/wclientdat/"));
  EXPECT_EQ(view.LastPanels(), (TPanels{Port(), "运行中", MegabytesText()}));
  EXPECT_EQ(view.LastLabel(), "微端资源加载完毕！");
  EXPECT_EQ(MainCaption(), "Ostrel引擎微端服务器【演示微端】");

  THttpReply map = HttpGet(port, MapTarget());
  EXPECT_EQ(map.Status, 200u);
  EXPECT_FALSE(map.Body.empty());
}

TEST_F(ServiceControlTest, StopStartUnloadAndLoadCommands) {
  TServiceControl control(view.View());
  control.FormCreate();
  bool started = false;
  ASSERT_TRUE(view.WaitStart(1, started) && started);

  control.StopService();
  EXPECT_FALSE(g_boStart);
  EXPECT_EQ(control.NuvoClientServer(), nullptr);
  EXPECT_EQ(view.LastPanels(), (TPanels{"----", "已停止", MegabytesText()}));
  EXPECT_THROW(HttpGet(port, MapTarget()), std::exception);
  control.StopService();  // nothing to stop
  EXPECT_EQ(log.Count("微端服务器已停止.."), 1u);

  EXPECT_TRUE(control.LibLoadok());  // the start command: a new service object
  EXPECT_TRUE(g_boStart);
  EXPECT_NE(control.NuvoClientServer(), nullptr);
  EXPECT_EQ(HttpGet(port, MapTarget()).Status, 200u);

  control.UnloadResources();
  EXPECT_FALSE(g_boStart);
  EXPECT_EQ(log.Count("微端服务器已停止.."), 2u);
  EXPECT_TRUE(log.Has("卸载资源完毕.."));
  EXPECT_EQ(view.LastLabel(), "微端服务器停止，卸载资源完毕....");
  EXPECT_EQ(control.GameLib()->GetMapBuff("\\map\\mir\\0.map"), "");

  control.LoadResources();  // the pass ends by starting the service again
  ASSERT_TRUE(view.WaitStart(3, started));
  EXPECT_TRUE(started);
  EXPECT_NE(control.GameLib()->GetMapBuff("\\map\\mir\\0.map"), "");
  EXPECT_EQ(HttpGet(port, MapTarget()).Status, 200u);
}

TEST_F(ServiceControlTest, ReloadKeepsTheRunningServiceObject) {
  TServiceControl control(view.View());
  control.FormCreate();
  bool started = false;
  ASSERT_TRUE(view.WaitStart(1, started) && started);
  const auto running = control.NuvoClientServer();
  control.LoadResources();
  ASSERT_TRUE(view.WaitStart(2, started));
  EXPECT_TRUE(started);
  EXPECT_EQ(control.NuvoClientServer(), running);
  EXPECT_EQ(log.Count("微端服务器启动完毕！[" + Port() + "]"), 2u) << "Open runs again on the same object";
}

TEST_F(ServiceControlTest, AFailedStartIsReportedAndShownStoppedAndTheStartCommandRetries) {
  namespace net = boost::asio;
  net::io_context io;
  auto holder = std::make_unique<net::ip::tcp::acceptor>(
      io, net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  TServiceControl control(view.View());
  control.FormCreate();
  bool started = true;
  ASSERT_TRUE(view.WaitStart(1, started));
  EXPECT_FALSE(started);
  EXPECT_FALSE(g_boStart);
  EXPECT_EQ(view.LastPanels(), (TPanels{"----", "已停止", MegabytesText()}));
  EXPECT_TRUE(log.Has("微端部署地址: "));
  EXPECT_FALSE(log.Has("微端服务器启动完毕！[" + Port() + "]"));
  const auto failed = control.NuvoClientServer();
  ASSERT_NE(failed, nullptr);

  holder.reset();
  EXPECT_TRUE(control.LibLoadok());
  EXPECT_EQ(control.NuvoClientServer(), failed) << "the start command retries Open on the same object";
  EXPECT_TRUE(log.Has("微端服务器启动完毕！[" + Port() + "]"));
  EXPECT_EQ(HttpGet(port, MapTarget()).Status, 200u);
}

TEST_F(ServiceControlTest, ClosingWhileThePassRunsEndsCleanlyAndCommandsDoNothingAfterwards) {
  TServiceControl control(view.View());
  control.FormCreate();
  control.FormDestroy();
  EXPECT_EQ(control.GameLib(), nullptr);
  EXPECT_EQ(control.NuvoClientServer(), nullptr);
  EXPECT_FALSE(g_boStart);
  EXPECT_FALSE(control.LibLoadok());
  control.StopService();
  control.UnloadResources();
  control.LoadResources();
  EXPECT_EQ(control.NuvoClientServer(), nullptr);
}

TEST(ServiceControlTexts, MegabytesRoundHalfToEven) {
  ResetSharedState();
  for (auto [bytes, text] : std::vector<std::pair<uint64_t, std::string>>{
           {0, "0 M"}, {1572864, "2 M"}, {2621440, "2 M"}, {3670016, "4 M"}, {1048575, "1 M"}}) {
    g_nDataMemory = bytes;
    EXPECT_EQ(MegabytesText(), text) << bytes;
  }
  ResetSharedState();
}

TEST(ServiceControlTexts, StatisticsLine) {
  ResetSharedState();
  g_nDataRead = 10;
  g_nDataRead404 = 2;
  g_nDataSend = 1048576;
  EXPECT_EQ(StatisticsText(2048), "请求: 10/错误：2/每秒发出: 2.00 KB/总发出: 1.00 MB");
  g_nDataRead = 5000000000ull;  // beyond 32 bits
  EXPECT_EQ(StatisticsText(0), "请求: 5000000000/错误：2/每秒发出: 0.00 KB/总发出: 1.00 MB");
  g_nDataSend = 3 * 1048576 + 524288;
  EXPECT_EQ(StatisticsText(1535, ","), "请求: 5000000000/错误：2/每秒发出: 1,50 KB/总发出: 3,50 MB");
  ResetSharedState();
}

}  // namespace
