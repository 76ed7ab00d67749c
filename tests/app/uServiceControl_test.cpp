#include "app/uServiceControl.h"
#include "app/MetricsListener.h"

#include <utility>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
#include "support/PromText.h"
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
    v.PassFailed = [this](bool running, const std::string&) {
      std::lock_guard hold(lock_);
      failures_.push_back(running);
      changed_.notify_all();
    };
    return v;
  }
  // Waits for the first failed pass; false when none comes.
  bool WaitFailure(bool& running) {
    std::unique_lock hold(lock_);
    if (!changed_.wait_for(hold, 20s, [&] { return !failures_.empty(); })) return false;
    running = failures_.front();
    return true;
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
  std::vector<bool> starts_, failures_;
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

TEST_F(ServiceControlTest, AFailedReloadIsReportedWhileTheServiceGoesOnServing) {
  TServiceControl control(view.View());
  control.FormCreate();
  bool started = false;
  ASSERT_TRUE(view.WaitStart(1, started) && started);
  {
    std::lock_guard hold(g_ConfigLock);
    g_MapList.push_back("/proc/self/mem");  // listed and present, but no read of it succeeds
  }
  control.LoadResources();
  bool running = false;
  ASSERT_TRUE(view.WaitFailure(running));
  EXPECT_TRUE(running);
  EXPECT_EQ(HttpGet(port, MapTarget()).Status, 200u);
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

TEST_F(ServiceControlTest, TheRetryOfAFailedStartTakesThePortAsItStandsNow) {
  namespace net = boost::asio;
  net::io_context io;
  net::ip::tcp::acceptor holder(io, net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  TServiceControl control(view.View());
  control.FormCreate();
  bool started = true;
  ASSERT_TRUE(view.WaitStart(1, started));
  ASSERT_FALSE(started);

  // The operator picks another port in the settings dialog and gives the start command.
  net::ip::tcp::acceptor probe(io, net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
  const uint16_t other = probe.local_endpoint().port();
  probe.close();
  g_nServerPort = other;
  EXPECT_TRUE(control.LibLoadok());
  EXPECT_TRUE(log.Has("微端服务器启动完毕！[" + std::to_string(other) + "]"));
  EXPECT_EQ(HttpGet(other, MapTarget()).Status, 200u);
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

// The metrics listener beside the service, on a port of its own.
class MetricsListenerTest : public ServiceControlTest {
 protected:
  void OpenMetrics(const TServiceControl& control) {
    metrics = std::make_unique<TMetricsListener>(control);
    ASSERT_EQ(metrics->Open("127.0.0.1", "0"), 0);
  }
  unsigned Health() { return HttpGet(metrics->BoundPort(), "/healthz").Status; }
  std::map<std::string, double> Scrape() {
    const THttpReply r = HttpGet(metrics->BoundPort(), "/metrics");
    EXPECT_EQ(r.Status, 200u);
    EXPECT_EQ(r.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    return ParsePromText(r.Body);
  }
  // The scrape once `responses` responses are counted: a response is counted once its last bytes
  // are written, which may come just after the client has read them.
  std::map<std::string, double> ScrapeAfter(double responses) {
    auto m = Scrape();
    for (int i = 0; i < 100 && m.at("nuvo_request_duration_seconds_count") < responses; ++i) {
      std::this_thread::sleep_for(20ms);
      m = Scrape();
    }
    return m;
  }

  std::unique_ptr<TMetricsListener> metrics;
};

TEST_F(MetricsListenerTest, HealthIs200WhileTheServiceIsStartedAnd503Otherwise) {
  TServiceControl control(view.View());
  OpenMetrics(control);
  EXPECT_EQ(Health(), 503u) << "no service before the first pass ends";
  control.FormCreate();
  bool started = false;
  ASSERT_TRUE(view.WaitStart(1, started) && started);
  EXPECT_EQ(Health(), 200u);
  control.StopService();
  EXPECT_EQ(Health(), 503u);
  EXPECT_TRUE(control.LibLoadok());
  EXPECT_EQ(Health(), 200u);
  control.UnloadResources();
  EXPECT_EQ(Health(), 503u);

  EXPECT_EQ(HttpGet(metrics->BoundPort(), "/other").Status, 404u);
  EXPECT_TRUE(control.LibLoadok());
  EXPECT_EQ(HttpGet(port, "/healthz").Status, 404u) << "never on the game port";
  EXPECT_EQ(HttpGet(port, "/metrics").Status, 404u);
}

TEST_F(MetricsListenerTest, MetricsParseAndCountRealRequests) {
  TServiceControl control(view.View());
  control.FormCreate();
  bool started = false;
  ASSERT_TRUE(view.WaitStart(1, started) && started);
  OpenMetrics(control);
  const std::string answeredMaps = R"(nuvo_requests_total{type="map",outcome="answered"})";
  const std::string badTokens = R"(nuvo_requests_total{type="none",outcome="-4"})";
  auto before = Scrape();
  EXPECT_EQ(before.at("nuvo_service_up"), 1);
  EXPECT_EQ(before.at("nuvo_load_passes_total"), 1);
  EXPECT_EQ(before.at("nuvo_data_memory_bytes"), static_cast<double>(g_nDataMemory.load()));
  EXPECT_GT(g_nDataMemory.load(), 0u);
  EXPECT_TRUE(before.count("nuvo_open_connections"));

  EXPECT_EQ(HttpGet(port, MapTarget()).Status, 200u);
  EXPECT_EQ(HttpGet(port, MapTarget()).Status, 200u);
  EXPECT_EQ(HttpGet(port, "/wclientdat/" + std::string(40, 'Z') + "/3.html").Status, 404u);
  auto after = ScrapeAfter(before.at("nuvo_request_duration_seconds_count") + 3);
  EXPECT_EQ(after.at(answeredMaps) - before.at(answeredMaps), 2);
  EXPECT_EQ(after.at(badTokens) - before.at(badTokens), 1);
  EXPECT_EQ(after.at("nuvo_request_duration_seconds_count") - before.at("nuvo_request_duration_seconds_count"), 3);

  // A coded answer: raw counts the body before coding, sent what went out.
  const std::string raw = R"(nuvo_response_bytes_total{form="raw"})", sent = R"(nuvo_response_bytes_total{form="sent"})";
  const THttpReply coded = HttpGet(port, MapTarget(), {{"Accept-Encoding", "deflate"}});
  ASSERT_EQ(coded.Header("Content-Encoding"), "deflate");
  auto third = ScrapeAfter(after.at("nuvo_request_duration_seconds_count") + 1);
  EXPECT_EQ(third.at(sent) - after.at(sent), static_cast<double>(coded.Body.size()));
  EXPECT_EQ(third.at(raw) - after.at(raw), static_cast<double>(InflateRaw(coded.Body).size()));

  control.LoadResources();
  ASSERT_TRUE(view.WaitStart(2, started) && started);
  EXPECT_EQ(Scrape().at("nuvo_load_passes_total"), 2);
  control.StopService();
  EXPECT_EQ(Scrape().at("nuvo_service_up"), 0);
}

TEST(PromTextChecker, RefusesWhatAScraperWouldRefuse) {
  EXPECT_NO_THROW(ParsePromText("# TYPE a counter\na{x=\"1\"} 2\n"));
  for (const char* bad : {"a 1\n", "# TYPE a counter\na 1", "# TYPE a counter\na{x=1} 1\n",
                          "# TYPE a counter\na one\n", "# TYPE a counter\na 1\na 2\n",
                          "# TYPE h histogram\nh_bucket{le=\"1\"} 2\nh_bucket{le=\"+Inf\"} 1\nh_sum 0\nh_count 1\n",
                          "# TYPE h histogram\nh_bucket{le=\"+Inf\"} 1\nh_sum 0\nh_count 2\n"}) {
    EXPECT_THROW(ParsePromText(bad), std::runtime_error) << bad;
  }
}

TEST_F(ServiceControlTest, OverridesReachEveryServiceStarted) {
  {
    TServiceControl control(view.View());
    control.FormCreate();
    bool started = false;
    ASSERT_TRUE(view.WaitStart(1, started) && started);
    EXPECT_EQ(control.NuvoClientServer()->MaxBandwidth(), 100u << 20) << "the settings' cap";
  }
  TServiceControl control(view.View());
  control.SetOverrides({0, "127.0.0.2"});
  control.FormCreate();
  bool started = false;
  ASSERT_TRUE(view.WaitStart(2, started) && started);
  EXPECT_EQ(control.NuvoClientServer()->MaxBandwidth(), 0u) << "no cap";
  EXPECT_TRUE(log.Has("微端部署地址: http://127.0.0.2:" + Port() + "/wclientdat/"));
  EXPECT_THROW(HttpGet(port, MapTarget()), std::exception) << "127.0.0.1 is not bound";
  control.StopService();
  EXPECT_TRUE(control.LibLoadok());
  EXPECT_EQ(control.NuvoClientServer()->MaxBandwidth(), 0u);
  EXPECT_THROW(HttpGet(port, MapTarget()), std::exception);
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
