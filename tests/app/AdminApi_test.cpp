// The browser console's API without sockets: the token before anything else, reads by GET only,
// commands by POST only, and the JSON it answers with.
#include "app/AdminApi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ConsoleState.h"
#include "app/uServiceControl.h"
#include "http/HttpApiServer.h"
#include "settings/TarnShare.h"
#include "support/SharedStateTest.h"

namespace {

const std::string kToken(64, 'f');

class AdminApiTest : public SharedStateTest {
 protected:
  THttpServerRequest Request(const std::string& method, const std::string& url, const std::string& headers,
                             const std::string& address = "127.0.0.1") {
    THttpServerRequest c;
    c.Method = method;
    c.URL = url;
    c.InHeaders = headers + "RemoteIP: " + address + "\r\n";
    return c;
  }
  uint32_t Ask(const std::string& method, const std::string& url, const std::string& address = "127.0.0.2") {
    last = Request(method, url, "Authorization: Bearer " + kToken + "\r\n", address);
    return api.Answer(last);
  }

  TServiceControl control{TServiceView{}};
  TConsoleState state;
  std::vector<TServiceCommand> ran;
  uint64_t now = 1000000;
  TAdminApi api{control, state, kToken, [this](TServiceCommand c) { ran.push_back(c); }, [this] { return now; }};
  THttpServerRequest last;
};

TEST_F(AdminApiTest, EveryPathAndMethodAnswers401WithoutTheRightToken) {
  std::vector<std::string> paths = {"/api", "/api/", "/api/nothing", "/api/status/", "/api/status/../stop"};
  for (const TAdminApiPath& p : AdminApiPaths()) {
    paths.push_back(std::string(p.Path));
    paths.push_back(std::string(p.Path) + "?since=0");
  }
  const std::vector<std::string> credentials = {
      "",
      "Authorization: Bearer\r\n",
      "Authorization: Bearer " + kToken.substr(1) + "\r\n",
      "Authorization: Bearer " + kToken + "0\r\n",
      "Authorization: Bearer " + std::string(64, 'e') + "\r\n",
      "Authorization: Basic " + kToken + "\r\n",
      "Authorization: " + kToken + "\r\n",
      "Authorization: Bearer " + kToken + "\r\nAuthorization: Bearer x\r\n",
      "Cookie: token=" + kToken + "\r\n",
      "X-Token: " + kToken + "\r\n",
  };
  int n = 0;
  for (const std::string& path : paths) {
    for (const char* method : {"GET", "HEAD", "POST", "PUT", "DELETE"}) {
      for (const std::string& headers : credentials) {
        // Each from an address of its own: the refusal is the token's, not the throttle's.
        THttpServerRequest c = Request(method, path, headers, "10.0." + std::to_string(n / 256 % 256) + "." +
                                                                   std::to_string(n % 256));
        ++n;
        EXPECT_EQ(api.Answer(c), 401u) << method << " " << path << " " << headers;
        EXPECT_TRUE(c.OutContent.empty()) << "no detail: " << c.OutContent;
        EXPECT_EQ(c.OutBody, nullptr);
      }
    }
  }
  // A token in the address is no token either.
  THttpServerRequest c = Request("GET", "/api/status?token=" + kToken, "");
  EXPECT_EQ(api.Answer(c), 401u);
  EXPECT_TRUE(ran.empty()) << "nothing ran without the token";
}

TEST_F(AdminApiTest, ReadsByGetOnlyCommandsByPostOnly) {
  for (const TAdminApiPath& p : AdminApiPaths()) {
    const std::string path(p.Path);
    if (p.Method == "GET") {
      EXPECT_EQ(Ask("GET", path), 200u) << path;
      EXPECT_EQ(last.OutContentType, "application/json; charset=utf-8");
      EXPECT_EQ(Ask("HEAD", path), 200u) << path;
      EXPECT_EQ(Ask("POST", path), 405u) << path;
    } else {
      for (const char* method : {"GET", "HEAD", "PUT", "DELETE", "OPTIONS"})
        EXPECT_EQ(Ask(method, path), 405u) << method << " " << path;
    }
  }
  EXPECT_TRUE(ran.empty()) << "no command through GET";
  EXPECT_EQ(Ask("GET", "/api/nothing"), 404u);

  for (const char* path : {"/api/start", "/api/stop", "/api/unload", "/api/reload"}) EXPECT_EQ(Ask("POST", path), 200u);
  const std::vector<TServiceCommand> expected = {TServiceCommand::Start, TServiceCommand::Stop, TServiceCommand::Unload,
                                                 TServiceCommand::Reload};
  EXPECT_EQ(ran, expected);
  EXPECT_NE(last.OutContent.find("\"state\":"), std::string::npos) << "a command answers with the status";
  EXPECT_EQ(Ask("GET", "/metrics"), 0u) << "not the API's";
  EXPECT_EQ(Ask("GET", "/"), 0u);
}

TEST_F(AdminApiTest, AnAddressThatKeepsFailingWaitsEvenWithTheRightToken) {
  for (unsigned i = 0; i <= TAdminThrottle::kFreeFailures; ++i) {
    THttpServerRequest c = Request("GET", "/api/status", "Authorization: Bearer guess\r\n", "192.0.2.7");
    EXPECT_EQ(api.Answer(c), 401u);
  }
  EXPECT_EQ(Ask("GET", "/api/status", "192.0.2.7"), 401u) << "its token is not even looked at";
  EXPECT_EQ(Ask("GET", "/api/status", "192.0.2.8"), 200u) << "others are not held up";
  now += TAdminThrottle::kFirstWaitMs;
  EXPECT_EQ(Ask("GET", "/api/status", "192.0.2.7"), 200u);
  // The address the front end appends comes last; one the client wrote itself does not count.
  THttpServerRequest c = Request("GET", "/api/status", "RemoteIP: 192.0.2.99\r\nAuthorization: Bearer x\r\n", "192.0.2.9");
  EXPECT_EQ(RemoteAddress(c.InHeaders), "192.0.2.9");
}

TEST_F(AdminApiTest, StatusLogTrafficAndAnEmptyResourceViewAsJson) {
  state.SetPanels("8800", "运行中", "3 M");
  state.SetLabel("请求: 1/错误：0/每秒发出: 0.00 KB/总发出: 0.00 MB");
  state.Log.Append({"[2024/7/2 13:45:12] 微端资源加载完毕！", "[2024/7/2 13:45:12] 资源已加载 1/3"});
  state.Traffic.Sample(now, {0, 0, 0});
  state.Traffic.Sample(now + 1000, {7, 1, 2048});

  ASSERT_EQ(Ask("GET", "/api/status"), 200u);
  for (const char* part : {"\"panels\":[\"8800\",\"运行中\",\"3 M\",\"请求: 1/错误：0/", "\"state\":\"运行中\"",
                           "\"version\":\"", "\"pass\":{\"running\":false,", "\"logNext\":2",
                           "\"caption\":\"Ostrel引擎微端服务器【Varrow微端】\""})
    EXPECT_NE(last.OutContent.find(part), std::string::npos) << part << " in " << last.OutContent;

  ASSERT_EQ(Ask("GET", "/api/resources"), 200u);
  EXPECT_EQ(last.OutContent, "{\"pass\":0,\"complete\":false,\"unloaded\":false,\"stored\":0,\"listed\":0,\"rows\":[]}")
      << "no catalogue yet";

  ASSERT_EQ(Ask("GET", "/api/log?since=1"), 200u);
  EXPECT_EQ(last.OutContent, "{\"first\":1,\"next\":2,\"lines\":[\"[2024/7/2 13:45:12] 资源已加载 1/3\"]}");
  for (const char* bad : {"/api/log?since=x", "/api/log?since=-5", "/api/log", "/api/log?since"}) {
    ASSERT_EQ(Ask("GET", bad), 200u);
    EXPECT_EQ(last.OutContent.rfind("{\"first\":0,\"next\":2,", 0), 0u) << bad << ": " << last.OutContent;
  }

  ASSERT_EQ(Ask("GET", "/api/traffic"), 200u);
  EXPECT_NE(last.OutContent.find("\"atMs\":[1000],\"spanMs\":[1000],\"requests\":[7],\"errors\":[1],\"bytes\":[2048]"),
            std::string::npos)
      << last.OutContent;
}

}  // namespace
