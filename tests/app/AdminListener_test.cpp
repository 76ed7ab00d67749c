// The browser console's listener in the process beside a running service: every call of the API
// answered while the loader reloads, the commands stop and start the service and game clients ask,
// so that ThreadSanitizer sees the API read what the loader and the workers change.
#include "app/AdminListener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/ConsoleState.h"
#include "app/uServiceControl.h"
#include "formats/MD5.h"
#include "platform/CodePage.h"
#include "service/RequestToken.h"
#include "service/ServiceState.h"
#include "settings/TarnShare.h"
#include "support/DemoData.h"
#include "support/HttpClient.h"
#include "support/SharedStateTest.h"

namespace {

using namespace std::chrono_literals;

const std::string kToken(64, '7');

class AdminListenerTest : public SharedStateTest {
 protected:
  void SetUp() override {
    SharedStateTest::SetUp();
    port = FreeLoopbackPort();
    demo = WriteDemoData(dir_.Path(), port);
  }
  // The program's view callbacks, as the headless program sets them.
  TServiceView View() {
    TServiceView v;
    v.SetPanels = [this](const std::string& a, const std::string& b, const std::string& c) { state.SetPanels(a, b, c); };
    v.ShowLabel = [this](const std::string& s) { state.SetLabel(Utf8FromAnsi(s)); };
    return v;
  }
  THttpReply Api(uint16_t admin, const std::string& method, const std::string& target) {
    return HttpRequest(admin, method, target, {{"Authorization", "Bearer " + kToken}});
  }

  uint16_t port = 0;
  TDemoData demo;
  TConsoleState state;
};

TEST_F(AdminListenerTest, PollsCommandsReloadsAndGameTrafficAtOnce) {
  TServiceControl control(View());
  control.FormCreate();
  TAdminListener admin(control, state, kToken, [&control](TServiceCommand c) {
    switch (c) {
      case TServiceCommand::Start: control.LibLoadok(); break;
      case TServiceCommand::Stop: control.StopService(); break;
      case TServiceCommand::Unload: control.UnloadResources(); break;
      case TServiceCommand::Reload: control.LoadResources(); break;
    }
  });
  ASSERT_EQ(admin.Open("127.0.0.1", "0"), 0);
  const uint16_t adminPort = admin.BoundPort();
  EXPECT_EQ(admin.ConsoleUrl(), "http://127.0.0.1:" + std::to_string(adminPort) + "/#token=" + kToken);
  for (int i = 0; i < 600 && !g_boStart; ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(g_boStart);

  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      const char* reads[] = {"/api/status", "/api/traffic", "/api/resources", "/api/log?since=0", "/metrics", "/healthz"};
      for (int i = 0; !done; ++i) {
        const std::string target = reads[(i + t) % 6];
        const unsigned status = (target[1] == 'a' ? Api(adminPort, "GET", target) : HttpGet(adminPort, target)).Status;
        if (status != 200 && !(target == "/healthz" && status == 503)) ++failures;
      }
    });
  }
  // Game clients, whether or not the service answers just then.
  threads.emplace_back([&] {
    const std::string target =
        "/wclientdat/" + SimpleEnStringMsg("map\\mir|0.map", MD5String(demo.WClientPass)) + "/3.html";
    while (!done) {
      try {
        HttpGet(port, target);
      } catch (const std::exception&) {
      }
    }
  });
  // The program's timer: the log shown, the traffic sampled.
  threads.emplace_back([&] {
    for (uint64_t ms = 0; !done; ms += 100) {
      state.Log.Append(g_ErrorList.Drain());
      state.Traffic.Sample(ms, CurrentTrafficCounters());
      std::this_thread::sleep_for(10ms);
    }
  });

  for (int round = 0; round < 5; ++round) {
    for (const char* command : {"/api/reload", "/api/stop", "/api/start", "/api/unload", "/api/reload"})
      EXPECT_EQ(Api(adminPort, "POST", command).Status, 200u) << command;
    std::this_thread::sleep_for(20ms);
  }
  // The last reload ends by starting the service again.
  for (int i = 0; i < 600 && !(g_boStart && !control.GameLib()->PassUnderWay()); ++i) std::this_thread::sleep_for(50ms);
  done = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(g_boStart);
  const std::string status = Api(adminPort, "GET", "/api/status").Body;
  EXPECT_NE(status.find("\"state\":\"运行中\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"running\":false"), std::string::npos) << status;
  control.FormDestroy();
}

}  // namespace
