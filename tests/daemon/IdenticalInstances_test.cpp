// Two headless programs on two copies of one installation, in different folders: every request
// form gets the same answer, byte for byte, from both. A load balancer may send a client's next
// request to either, and a shared cache keeps whichever answered first.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "client/WClientProbe.h"
#include "platform/FileSystem.h"
#include "settings/TarnShare.h"
#include "support/DaemonInstance.h"
#include "support/DemoData.h"
#include "support/HttpClient.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const auto kStartTimeout = 60s;  // loading the demo under a sanitizer on a busy machine

// Copies an installation to another folder, as an operator copies it to another host: the
// settings and the lists name the copy's own files.
void CopyInstallation(const std::string& from, const std::string& to) {
  fs::copy(from, to, fs::copy_options::recursive);
  for (const char* name : {"Config.ini", "JpkList.txt", "WzlList.txt", "MapList.txt", "WavList.txt"}) {
    std::string text = ReadFileBytes(to + "/" + name);
    for (size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
      text.replace(p, from.size(), to);
    WriteFileAtomic(to + "/" + name, text);
  }
}

// The whole answer as it comes over the wire, head and body, on a connection of its own.
std::string WireAnswer(uint16_t port, const std::string& method, const std::string& target, bool deflate) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (deflate) request += "Accept-Encoding: gzip, deflate\r\n";
  const TRawReply r = RawExchange(port, request + "\r\n", 10s);
  EXPECT_TRUE(r.Closed) << target;
  return r.Bytes;
}

class IdenticalInstancesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitSharedState();
    demo = WriteDemoData(root.PathOf("a"), 0);
    CopyInstallation(root.PathOf("a"), root.PathOf("b"));
    a = StartDaemonIn(root.PathOf("a"), kStartTimeout);
    b = StartDaemonIn(root.PathOf("b"), kStartTimeout);
  }
  void TearDown() override {
    for (TDaemonInstance* d : {&a, &b}) {
      if (d->Process && d->Process->Running()) {
        d->Process->Signal(SIGTERM);
        EXPECT_EQ(d->Process->Wait(30s), std::optional<int>(0)) << d->Process->Output();
      }
    }
    InitSharedState();
  }

  std::string Target(int nType, const std::string& key, const std::string& image = "") const {
    std::string sDir, sLib;
    EXPECT_TRUE(SplitCatalogueKey(key, sDir, sLib)) << key;
    return WClientTarget(demo.WClientPass, nType, sDir, sLib, image);
  }

  // Every request form: image entries, headers of both library kinds, maps, wavs, what is not
  // loaded, the index table (served and throttled), refusals, requests outside the prefix.
  std::vector<std::string> Targets() const {
    std::vector<std::string> t;
    for (const TDemoLibrary& lib : demo.Libraries) {
      for (int nType : {1, 2}) {
        for (const std::string& image : {std::string("Header"), std::string("0"), std::to_string(lib.ImageCount / 2),
                                         std::to_string(lib.ImageCount - 1), std::to_string(lib.ImageCount)})
          t.push_back(Target(nType, lib.Key, image));
      }
    }
    for (const TDemoFile& f : demo.Maps) t.push_back(Target(kTypeMap, f.Key));
    for (const TDemoFile& f : demo.Wavs) {
      t.push_back(Target(kTypeWav, f.Key));
      t.push_back(Target(5, f.Key));
    }
    const std::vector<std::string> rest = {
        Target(1, "\\data\\missing.wzl", "0"), Target(1, "\\data\\hum.wzl"), Target(3, "\\map\\mir\\9.map"),
        "/wclientdat/A/check-indexes", "/wclientdat/A/check-indexes", "/wclientdat/B/check-indexes",
        "/wclientdat/TOKEN/3.htm", "/WCLIENTDAT/TOKEN/Check-Indexes", "/wclientdat/check-indexes",
        "/wclientdat/TOKEN/7.html", "/wclientdat/TOKEN/abc.html",
        "/wclientdat/" + WClientToken(demo.WClientPass, "nopipe") + "/1.html", "/other/TOKEN/3.html"};
    t.insert(t.end(), rest.begin(), rest.end());
    return t;
  }

  TempDir root{false};
  TDemoData demo;
  TDaemonInstance a, b;
};

TEST_F(IdenticalInstancesTest, AnswerEveryRequestFormWithTheSameBytes) {
  std::vector<std::string> statuses;
  for (bool deflate : {false, true}) {
    for (const std::string method : {"GET", "HEAD"}) {
      for (const std::string& t : Targets()) {
        const std::string fromA = WireAnswer(a.Port, method, t, deflate);
        const std::string fromB = WireAnswer(b.Port, method, t, deflate);
        ASSERT_EQ(fromA.rfind("HTTP/1.1 ", 0), 0u) << method << " " << t << "\n" << fromA;
        EXPECT_TRUE(fromA == fromB) << method << " " << t << (deflate ? " deflate" : "") << "\n"
                                    << fromA.substr(0, 400) << "\n----\n" << fromB.substr(0, 400);
        statuses.push_back(fromA.substr(9, 3));
      }
    }
  }
  // The comparison covered answers with bodies, empty answers and every refusal status.
  for (const char* status : {"200", "400", "404"})
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), status), statuses.end()) << status;
}

TEST_F(IdenticalInstancesTest, AFreshServiceOnEitherGivesTheSameIndexTableAsTheOther) {
  // A fresh service object builds its table and key again; the copy that kept its first one
  // must still agree, so that instances restarted at different times serve one table.
  const size_t printed = a.Process->Lines().size();
  a.Process->Signal(SIGUSR1);
  ASSERT_TRUE(a.Process->WaitForLine([](const std::string& l) { return l.find("微端部署地址: ") != std::string::npos; },
                                     kStartTimeout, printed))
      << a.Process->Output();
  for (bool deflate : {false, true}) {
    const std::string token = deflate ? "/wclientdat/D/check-indexes" : "/wclientdat/P/check-indexes";
    const std::string fromA = WireAnswer(a.Port, "GET", token, deflate);
    EXPECT_EQ(fromA.substr(0, 12), "HTTP/1.1 200");
    EXPECT_TRUE(fromA == WireAnswer(b.Port, "GET", token, deflate)) << token;
    const std::string image = Target(1, demo.Libraries[4].Key, "3");
    EXPECT_TRUE(WireAnswer(a.Port, "GET", image, deflate) == WireAnswer(b.Port, "GET", image, deflate));
  }
}

}  // namespace
