#include "http/HttpApiServer.h"

#include <utility>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <thread>

#include "platform/FileSystem.h"
#include "http/HttpApiWire.h"
#include "service/FrontEndCoding.h"
#include "support/HttpClient.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char kHtml[] = "text/html; charset=UTF-8";

// A front end on a free port with the deflate coding, serving `handler` on 32 workers.
struct TServed {
  explicit TServed(TOnHttpServerRequest handler, THttpServerLimits limits = {}) : Server(limits) {
    EXPECT_EQ(Server.AddUrl("wclientdat", "0", false, "+", true, 0), 0);
    Port = Server.BoundPort();
    Server.RegisterCompress(CompressDeflate, 1024);
    Server.SetEntityTagger(EntityTag);
    Server.SetOnRequest(std::move(handler));
    Server.Clone(31);
  }
  THttpApiServer Server;
  uint16_t Port = 0;
};

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = "abcdefgh <>\r\n0123"[(i * 7 + i / 13) % 17];
  return s;
}

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

template <class F>
bool WaitUntil(F done, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

}  // namespace

TEST(HttpApiServer, RoutesOnlyTheRootInAnyCaseAndAnswersTheRestItself) {
  std::atomic<int> calls{0};
  TServed s([&](THttpServerRequest& c) {
    ++calls;
    c.OutContent = "seen " + c.URL;
    c.OutContentType = kHtml;
    return 200u;
  });
  for (const char* target : {"/WCLIENTDAT/TOKEN/3.html", "/wclientdat/a%2Fb/1.html?x=1&y"}) {
    auto r = HttpGet(s.Port, target);
    EXPECT_EQ(r.Status, 200u) << target;
    EXPECT_EQ(r.Body, std::string("seen ") + target);
    EXPECT_EQ(r.Header("Content-Type"), kHtml);
    EXPECT_EQ(r.Header("Accept-Encoding"), "deflate");
    EXPECT_TRUE(r.Has("Server"));
  }
  for (const char* target : {"/other/x", "/wclientdat", "//wclientdat/x", "/wclientdatx/y"}) {
    auto r = HttpGet(s.Port, target);
    EXPECT_EQ(r.Status, 404u) << target;
    EXPECT_EQ(r.Reason, "Not Found");
    EXPECT_EQ(r.Body, "");
    EXPECT_FALSE(r.Has("Content-Type"));
    EXPECT_EQ(r.Header("Accept-Encoding"), "deflate") << "every answer names the coding";
  }
  EXPECT_EQ(calls.load(), 2);
}

TEST(HttpApiServer, FillsTheRequestContext) {
  std::mutex m;
  THttpServerRequest seen;
  TServed s([&](THttpServerRequest& c) {
    std::lock_guard<std::mutex> hold(m);
    seen = c;
    return 200u;
  });
  auto r = HttpRequest(s.Port, "POST", "/wclientdat/T/1.html?q=%41", {{"X-Test", "one two"}, {"Content-Type", "text/plain"}},
                       "body bytes");
  EXPECT_EQ(r.Status, 200u);
  std::lock_guard<std::mutex> hold(m);
  EXPECT_EQ(seen.URL, "/wclientdat/T/1.html?q=%41");
  EXPECT_EQ(seen.Method, "POST");
  EXPECT_EQ(seen.InContent, "body bytes");
  EXPECT_EQ(seen.InContentType, "text/plain");
  EXPECT_NE(seen.InHeaders.find("Host: 127.0.0.1\r\n"), std::string::npos) << seen.InHeaders;
  EXPECT_NE(seen.InHeaders.find("X-Test: one two\r\n"), std::string::npos);
  EXPECT_EQ(seen.InHeaders.substr(seen.InHeaders.size() - 21), "RemoteIP: 127.0.0.1\r\n");
  EXPECT_EQ(seen.RemoteIP, "");
  EXPECT_EQ(r.Body, "");
  EXPECT_FALSE(r.Has("Content-Type"));
}

TEST(HttpApiServer, DeflateCodesExactlyWhenClientTypeAndSizeAllow) {
  struct Case {
    std::size_t size;
    const char* type;
    const char* accept;  // nullptr: no Accept-Encoding header
    bool coded;
  } cases[] = {
      {2000, kHtml, "gzip, deflate", true},
      {2000, kHtml, nullptr, false},
      {2000, kHtml, "Deflate", false},
      {2000, kHtml, "gzip", false},
      {1023, kHtml, "deflate", false},
      {1024, kHtml, "deflate", true},
      {2000, kHtml, "gzip;q=1.0, deflate;q=0.5", true},
      {2000, kHtml, "deflate ;q=1", false},  // the token runs to the ";" and keeps the blank
      {2000, "", "deflate", false},
      {2000, "application/octet-stream", "deflate", false},
      {2000, "image/png", "deflate", false},
      {2000, "Image/SVG+xml", "deflate", true},
      {2000, "APPLICATION/json", "deflate", true},
      {2000, "application/javascript", "deflate", true},
      {2000, "text/plain", "deflate", true},
  };
  // The body as the context's text, as a shared body made by a worker, and as a shared body
  // answered on the event loop: the same bytes on the wire.
  std::vector<THttpBodyRef> shared;
  for (const Case& k : cases) shared.push_back(std::make_shared<THttpBody>(Pattern(k.size)));
  auto answer = [&](THttpServerRequest& c) {
    auto at = c.URL.rfind('/');
    const std::size_t i = std::stoul(c.URL.substr(at + 1));
    if (c.URL.find("/text/") != std::string::npos) c.OutContent = Pattern(cases[i].size);
    else c.OutBody = shared[i];
    c.OutContentType = cases[i].type;
    return 200u;
  };
  TServed s(answer);
  s.Server.SetOnRequestInline([&](THttpServerRequest& c) {
    return c.URL.find("/inline/") != std::string::npos ? answer(c) : kHttpNeedsWorker;
  });
  for (int round = 0; round < 2; ++round)
  for (const char* form : {"text", "shared", "inline"})
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& k = cases[i];
    SCOPED_TRACE(testing::Message() << form << " " << k.size << " '" << k.type << "' " << (k.accept ? k.accept : "(none)"));
    std::vector<std::pair<std::string, std::string>> headers;
    if (k.accept) headers.emplace_back("Accept-Encoding", k.accept);
    auto r = HttpGet(s.Port, std::string("/wclientdat/") + form + "/" + std::to_string(i), headers);
    ASSERT_EQ(r.Status, 200u);
    EXPECT_EQ(r.Has("Content-Type"), k.type[0] != '\0');
    if (k.coded) {
      EXPECT_EQ(r.Header("Content-Encoding"), "deflate");
      EXPECT_LT(r.Body.size(), k.size);
      EXPECT_EQ(InflateRaw(r.Body), Pattern(k.size));
      EXPECT_EQ(r.Body, CompressDeflate.Encode(Pattern(k.size)));
    } else {
      EXPECT_FALSE(r.Has("Content-Encoding"));
      EXPECT_EQ(r.Body, Pattern(k.size));
    }
  }
}

TEST(HttpApiServer, EntityTagsVaryAndNotModified) {
  const std::string big = Pattern(2000), small = Pattern(500);
  auto shared = std::make_shared<THttpBody>(big);
  auto answer = [&](THttpServerRequest& c) {
    if (c.URL == "/wclientdat/missing") return 404u;
    if (c.URL == "/wclientdat/small") c.OutContent = small;
    else c.OutBody = shared;
    c.OutContentType = kHtml;
    return 200u;
  };
  THttpServerLimits cached;
  cached.CacheMaxAge = 60;
  TServed s(answer), other(answer, cached);
  using H = std::vector<std::pair<std::string, std::string>>;
  const H deflate = {{"Accept-Encoding", "deflate"}};

  auto plain = HttpGet(s.Port, "/wclientdat/big");
  const std::string tag = plain.Header("ETag");
  EXPECT_EQ(tag, EntityTag(big));
  EXPECT_EQ(tag.size(), 34u);
  EXPECT_EQ(plain.Header("Vary"), "Accept-Encoding");
  EXPECT_FALSE(plain.Has("Cache-Control"));
  auto coded = HttpGet(s.Port, "/wclientdat/big", deflate);
  const std::string codedTag = coded.Header("ETag");
  EXPECT_EQ(codedTag, tag.substr(0, 33) + "-deflate\"");
  EXPECT_EQ(coded.Header("Vary"), "Accept-Encoding");
  auto again = HttpGet(other.Port, "/wclientdat/big");
  EXPECT_EQ(again.Header("ETag"), tag) << "the same bytes have the same tag on every instance";
  EXPECT_EQ(again.Header("Cache-Control"), "max-age=60");

  struct Case {
    H headers;
    unsigned status;
    std::string etag;
  } cases[] = {
      {{{"If-None-Match", tag}}, 304, tag},
      {{{"If-None-Match", "\"other\", " + tag}}, 304, tag},
      {{{"If-None-Match", "W/" + tag}}, 304, tag},
      {{{"If-None-Match", "*"}}, 304, tag},
      {{{"If-None-Match", "\"other\""}}, 200, tag},
      {{{"If-None-Match", tag}, {"Accept-Encoding", "deflate"}}, 200, codedTag},
      {{{"If-None-Match", codedTag}, {"Accept-Encoding", "deflate"}}, 304, codedTag},
  };
  for (const Case& c : cases) {
    auto r = HttpGet(s.Port, "/wclientdat/big", c.headers);
    EXPECT_EQ(r.Status, c.status) << c.headers[0].second;
    EXPECT_EQ(r.Header("ETag"), c.etag);
    EXPECT_EQ(r.Body.empty(), c.status == 304);
    EXPECT_FALSE(r.Has("Content-Encoding") && c.status == 304);
  }
  auto r = HttpGet(s.Port, "/wclientdat/small", deflate);
  EXPECT_EQ(r.Header("ETag"), EntityTag(small));
  EXPECT_FALSE(r.Has("Vary")) << "too small for the coding";
  EXPECT_FALSE(HttpGet(s.Port, "/wclientdat/missing").Has("ETag"));
}

TEST(HttpApiServer, AcceptEncodingTokens) {
  struct Case {
    const char* header;
    bool lists;
  } cases[] = {{"deflate", true},       {" , ,deflate", true}, {"gzip,deflate;q=0", true},
               {"xdeflate", false},     {"deflate2", false},   {"gzip;deflate", false},
               {"", false},             {"DEFLATE", false},    {"br, deflate , gzip", false}};
  for (const auto& k : cases) EXPECT_EQ(AcceptEncodingLists(k.header, "deflate"), k.lists) << k.header;
}

TEST(HttpApiServer, StatusLinesAndTheAnswersForFailures) {
  struct Case {
    const char* target;
    unsigned status;
    const char* reason;
  } cases[] = {
      {"/wclientdat/s/200", 200, "OK"},
      {"/wclientdat/s/404", 404, "Not Found"},
      {"/wclientdat/s/418", 418, "Invalid Request"},
      {"/wclientdat/s/299", 299, "Invalid Request"},
      {"/wclientdat/s/0", 400, "Bad Request"},  // no valid status line: a bare 400
      {"/wclientdat/s/42", 400, "Bad Request"},
      {"/wclientdat/s/1000", 400, "Bad Request"},
      {"/wclientdat/throw/io", 500, "Internal Server Error"},
      {"/wclientdat/throw/other", 500, "Internal Server Error"},
  };
  TServed s([](THttpServerRequest& c) -> uint32_t {
    c.OutContent = "body";
    c.OutContentType = kHtml;
    if (c.URL == "/wclientdat/throw/io") throw EInOutError("Cannot open file <Logs/x.log>");
    if (c.URL == "/wclientdat/throw/other") throw 42;
    return std::stoul(c.URL.substr(c.URL.rfind('/') + 1));
  });
  for (const auto& k : cases) {
    auto r = HttpGet(s.Port, k.target, {{"Accept-Encoding", "deflate"}});
    EXPECT_EQ(r.Status, k.status) << k.target;
    EXPECT_EQ(r.Reason, k.reason) << k.target;
    EXPECT_EQ(r.Header("Accept-Encoding"), "deflate") << k.target;
  }
  auto failed = HttpGet(s.Port, "/wclientdat/throw/io");
  EXPECT_EQ(failed.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(failed.Body.find("500"), std::string::npos);
  EXPECT_NE(failed.Body.find("EInOutError"), std::string::npos) << failed.Body;
  EXPECT_EQ(failed.Body.find("Logs/x.log"), std::string::npos) << "no server path: " << failed.Body;
  EXPECT_EQ(failed.Body.find("Cannot open"), std::string::npos) << failed.Body;
  auto zero = HttpGet(s.Port, "/wclientdat/s/0");
  EXPECT_EQ(zero.Body, "");
  EXPECT_FALSE(zero.Has("Content-Type"));
}

TEST(HttpApiServer, KeepAlivePipeliningAndHead) {
  TServed s([](THttpServerRequest& c) {
    c.OutContent = c.Method + " " + c.URL;
    c.OutContentType = kHtml;
    return 200u;
  });
  const std::string two = "GET /wclientdat/1 HTTP/1.1\r\nHost: h\r\n\r\nGET /wclientdat/2 HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";
  auto raw = RawExchange(s.Port, two, 5s);
  EXPECT_TRUE(raw.Closed);
  auto first = raw.Bytes.find("GET /wclientdat/1"), second = raw.Bytes.find("GET /wclientdat/2");
  ASSERT_NE(first, std::string::npos) << raw.Bytes;
  ASSERT_NE(second, std::string::npos) << raw.Bytes;
  EXPECT_LT(first, second);
  EXPECT_NE(raw.Bytes.find("Connection: close"), std::string::npos);

  auto head = HttpRequest(s.Port, "HEAD", "/wclientdat/h");
  EXPECT_EQ(head.Status, 200u);
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(std::string("HEAD /wclientdat/h").size()));
  EXPECT_EQ(head.Body, "");
}

TEST(HttpApiServer, CloneTwiceGivesThirtyTwoWorkersThatAllServe) {
  THttpApiServer server;
  EXPECT_EQ(server.WorkerCount(), 1);
  server.Clone(31);  // no callback yet: nothing
  EXPECT_EQ(server.WorkerCount(), 1);
  ASSERT_EQ(server.AddUrl("wclientdat", "0", false, "+", true, 0), 0);
  std::mutex m;
  std::condition_variable cv;
  int inside = 0;
  std::set<std::thread::id> threads;
  server.SetOnRequest([&](THttpServerRequest&) {
    std::unique_lock<std::mutex> lock(m);
    threads.insert(std::this_thread::get_id());
    ++inside;
    cv.notify_all();
    // Every handler waits until 32 run at once: possible only on 32 distinct workers.
    cv.wait_for(lock, 10s, [&] { return inside >= 32; });
    return 200u;
  });
  server.Clone(0);
  server.Clone(-5);
  EXPECT_EQ(server.WorkerCount(), 1);
  server.Clone(31);
  server.Clone(31);
  EXPECT_EQ(server.WorkerCount(), 32);

  std::vector<std::future<unsigned>> replies;
  for (int i = 0; i < 32; ++i)
    replies.push_back(std::async(std::launch::async, [&] { return HttpGet(server.BoundPort(), "/wclientdat/x").Status; }));
  {
    std::unique_lock<std::mutex> lock(m);
    EXPECT_TRUE(cv.wait_for(lock, 10s, [&] { return inside >= 32; }));
  }
  for (auto& r : replies) EXPECT_EQ(r.get(), 200u);
  EXPECT_EQ(threads.size(), 32u);
}

TEST(HttpApiServer, CloneIsCutAt256) {
  THttpApiServer server;
  server.SetOnRequest([](THttpServerRequest&) { return 200u; });
  server.Clone(1000);
  EXPECT_EQ(server.WorkerCount(), 257);
}

TEST(HttpApiServer, AddUrlFailsWithoutChangingAnything) {
  THttpApiServer first;
  ASSERT_EQ(first.AddUrl("wclientdat", "0", false, "+", true, 0), 0);
  const std::string port = std::to_string(first.BoundPort());
  EXPECT_EQ(first.GetRegisteredUrl(), "http://+:" + port + "/wclientdat/");
  EXPECT_NE(first.AddUrl("wclientdat", port, false, "+", true, 0), 0) << "the same address again";
  EXPECT_NE(first.AddUrl(" /WClientDat/ ", port, false, "+", true, 0), 0) << "the same address, spelled otherwise";
  EXPECT_NE(first.AddUrl("x", "http", false, "+", true, 0), 0);
  EXPECT_NE(first.AddUrl("x", "70000", false, "+", true, 0), 0);
  EXPECT_NE(first.AddUrl("x", "0", true, "+", true, 0), 0) << "no HTTPS";
  EXPECT_EQ(first.GetRegisteredUrl(), "http://+:" + port + "/wclientdat/");

  THttpApiServer second;
  EXPECT_NE(second.AddUrl("wclientdat", port, false, "+", true, 0), 0) << "port taken by another server";
  EXPECT_EQ(second.GetRegisteredUrl(), "");
  EXPECT_EQ(second.BoundPort(), 0);
  ASSERT_EQ(second.AddUrl("/other", "0", false, "+", true, 0), 0);
  ASSERT_EQ(second.AddUrl("more/", std::to_string(second.BoundPort()), false, "+", true, 0), 0);
  const std::string port2 = std::to_string(second.BoundPort());
  EXPECT_EQ(second.GetRegisteredUrl(), "http://+:" + port2 + "/other/,http://+:" + port2 + "/more/");
}

TEST(HttpApiServer, BandwidthValues) {
  THttpApiServer server;
  EXPECT_EQ(server.MaxBandwidth(), 0u);
  server.SetMaxBandwidth(500);
  EXPECT_EQ(server.MaxBandwidth(), 1024u);
  server.SetMaxBandwidth(1);
  EXPECT_EQ(server.MaxBandwidth(), 1024u);
  server.SetMaxBandwidth(104857600);
  EXPECT_EQ(server.MaxBandwidth(), 104857600u);
  server.SetMaxBandwidth(0);
  EXPECT_EQ(server.MaxBandwidth(), 0u);
}

TEST(HttpApiServer, OneCapForAllConnections) {
  const std::size_t size = 150 * 1024;
  TServed s([&](THttpServerRequest& c) {
    c.OutContent = Pattern(size);
    return 200u;
  });
  const uint32_t rate = 200 * 1024;
  s.Server.SetMaxBandwidth(rate);
  auto start = Clock::now();
  auto a = std::async(std::launch::async, [&] { return HttpGet(s.Port, "/wclientdat/a").Body.size(); });
  auto b = std::async(std::launch::async, [&] { return HttpGet(s.Port, "/wclientdat/b").Body.size(); });
  EXPECT_EQ(a.get(), size);
  EXPECT_EQ(b.get(), size);
  // 300 KiB at 200 KiB/s: 1.5 s less the first chunk that goes at once.
  double took = SecondsSince(start);
  EXPECT_GT(took, 1.2);
  EXPECT_LT(took, 15.0);
}

TEST(HttpApiServer, CapChangesWhileServing) {
  TServed s([&](THttpServerRequest& c) {
    c.OutContent = Pattern(200 * 1024);
    return 200u;
  });
  s.Server.SetMaxBandwidth(2048);  // 100 s for the body
  auto start = Clock::now();
  auto body = std::async(std::launch::async, [&] { return HttpGet(s.Port, "/wclientdat/a").Body; });
  std::this_thread::sleep_for(300ms);
  s.Server.SetMaxBandwidth(0);
  EXPECT_EQ(body.get(), Pattern(200 * 1024));
  EXPECT_LT(SecondsSince(start), 10.0);
}

TEST(HttpApiServer, BadRequestsGetTheirAnswerAndTheConnectionCloses) {
  TServed s([](THttpServerRequest&) { return 200u; });
  struct Case {
    std::string request;
    const char* statusLine;
  } cases[] = {
      {"GET /wclientdat/x HTTP/1.1\r\nX: " + std::string(17 * 1024, 'a') + "\r\n\r\n", "HTTP/1.1 431 Invalid Request\r\n"},
      {"GET /wclientdat/" + std::string(17 * 1024, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 431 Invalid Request\r\n"},
      {"POST /wclientdat/x HTTP/1.1\r\nContent-Length: 70000\r\n\r\n", "HTTP/1.1 413 Payload Too Large\r\n"},
      {"POST /wclientdat/x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n11000\r\n" + std::string(0x11000, 'b') + "\r\n0\r\n\r\n",
       "HTTP/1.1 413 Payload Too Large\r\n"},
      {"GARBAGE\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /wclientdat/x HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /x HTTP/9.9\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
  };
  for (const auto& k : cases) {
    auto r = RawExchange(s.Port, k.request, 5s);
    EXPECT_TRUE(r.Closed) << k.statusLine;
    EXPECT_EQ(r.Bytes.substr(0, std::string(k.statusLine).size()), k.statusLine) << r.Bytes.substr(0, 200);
    EXPECT_NE(r.Bytes.find("Accept-Encoding: deflate\r\n"), std::string::npos);
  }
  EXPECT_EQ(HttpGet(s.Port, "/wclientdat/x").Status, 200u) << "still serving";
}

TEST(HttpApiServer, SlowAndSilentClientsAreClosedWithoutHoldingOthers) {
  THttpServerLimits limits;
  limits.HeaderTimeout = 1000ms;
  limits.IdleTimeout = 1200ms;
  limits.SendTimeout = 500ms;
  TServed s([](THttpServerRequest& c) {
    if (c.URL == "/wclientdat/big") c.OutContent = Pattern(32 << 20);
    return 200u;
  }, limits);

  // Half a request, never finished.
  auto stalled = std::async(std::launch::async, [&] { return RawExchange(s.Port, "GET /wclientdat/x HTTP/1.1\r\nHo", 5s); });
  // Nothing at all.
  auto silent = std::async(std::launch::async, [&] { return RawExchange(s.Port, "", 5s); });
  // A finished request, then an idle keep-alive connection.
  auto idle = std::async(std::launch::async, [&] { return RawExchange(s.Port, "GET /wclientdat/x HTTP/1.1\r\n\r\n", 5s); });
  std::this_thread::sleep_for(50ms);
  auto start = Clock::now();
  EXPECT_EQ(HttpGet(s.Port, "/wclientdat/x").Status, 200u);
  EXPECT_LT(SecondsSince(start), 0.8) << "others are served while those wait";
  for (auto* f : {&stalled, &silent}) {
    auto r = f->get();
    EXPECT_TRUE(r.Closed);
    EXPECT_EQ(r.Bytes, "");
  }
  auto r = idle.get();
  EXPECT_TRUE(r.Closed);
  EXPECT_EQ(r.Bytes.substr(0, 15), "HTTP/1.1 200 OK");

  // A client that asks for a large body and never reads it.
  {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), s.Port});
    const std::string req = "GET /wclientdat/big HTTP/1.1\r\n\r\n";
    boost::asio::write(socket, boost::asio::buffer(req));
    EXPECT_TRUE(WaitUntil([&] { return s.Server.OpenConnections() == 0; }, 10s)) << s.Server.OpenConnections();
    EXPECT_EQ(HttpGet(s.Port, "/wclientdat/x").Status, 200u);
  }
}

TEST(HttpApiServer, InlineAnswersStayOnTheLoopsAndOneStalledHandlerHoldsUpNoOtherConnection) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::mutex m;
  std::set<std::thread::id> loopThreads, workerThreads;
  TServed s([&](THttpServerRequest& c) {
    {
      std::lock_guard<std::mutex> hold(m);
      workerThreads.insert(std::this_thread::get_id());
    }
    if (c.URL == "/wclientdat/w/block") released.wait();
    c.OutContent = "worker " + c.URL + " " + c.OutContent;  // what the inline callback left is gone
    return 200u;
  });
  s.Server.SetOnRequestInline([&](THttpServerRequest& c) {
    {
      std::lock_guard<std::mutex> hold(m);
      loopThreads.insert(std::this_thread::get_id());
    }
    if (c.URL.rfind("/wclientdat/w/", 0) == 0) {
      c.OutContent = "left over";
      return kHttpNeedsWorker;
    }
    c.OutContent = "inline " + c.URL;
    return 200u;
  });
  std::vector<THttpConnection> others;
  for (int i = 0; i < 2 * 32 + 8; ++i) others.emplace_back(s.Port);
  auto blocked = std::async(std::launch::async, [&] { return HttpGet(s.Port, "/wclientdat/w/block"); });
  std::this_thread::sleep_for(200ms);  // for it to reach a worker
  for (auto& c : others) {
    EXPECT_EQ(c.Get("/wclientdat/fast").Body, "inline /wclientdat/fast");
    EXPECT_EQ(c.Get("/wclientdat/w/x").Body, "worker /wclientdat/w/x ");
  }
  EXPECT_EQ(blocked.wait_for(0ms), std::future_status::timeout);
  release.set_value();
  EXPECT_EQ(blocked.get().Body, "worker /wclientdat/w/block ");
  std::lock_guard<std::mutex> hold(m);
  EXPECT_LE(loopThreads.size(), std::size_t(s.Server.EventLoopCount()));
  for (auto id : loopThreads) EXPECT_EQ(workerThreads.count(id), 0u) << "the loops run no handler of the workers";
}

// A loop thread the system holds back (here: held inside an inline answer) must not hold up the
// other connections, whichever loop thread would have served them before.
TEST(HttpApiServer, ALoopThreadHeldUpHoldsUpNoOtherConnection) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  TServed s([](THttpServerRequest&) { return 404u; });
  if (s.Server.EventLoopCount() < 2) GTEST_SKIP() << "one loop thread on this machine";
  s.Server.SetOnRequestInline([&](THttpServerRequest& c) {
    if (c.URL == "/wclientdat/hold") released.wait();
    c.OutContent = "inline " + c.URL;
    return 200u;
  });
  auto held = std::async(std::launch::async, [&] { return HttpGet(s.Port, "/wclientdat/hold"); });
  std::this_thread::sleep_for(200ms);  // for it to reach a loop thread
  for (int i = 0; i < 16; ++i) {
    TRawReply r = RawExchange(s.Port, "GET /wclientdat/during HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 2s);
    EXPECT_TRUE(r.Closed && r.Bytes.find("inline /wclientdat/during") != std::string::npos) << "connection " << i;
  }
  EXPECT_EQ(held.wait_for(0ms), std::future_status::timeout);
  release.set_value();
  EXPECT_EQ(held.get().Body, "inline /wclientdat/hold");
}

TEST(HttpApiServer, AtTheCapTheLongestIdleConnectionMakesRoomAndOnlyBusyOnesRefuse) {
  THttpServerLimits limits;
  limits.MaxConnections = 3;
  TServed s([](THttpServerRequest& c) {
    c.OutContent = "ok";
    return 200u;
  }, limits);
  std::vector<THttpConnection> idle;
  for (int i = 0; i < 3; ++i) {
    idle.emplace_back(s.Port);
    EXPECT_EQ(idle.back().Get("/wclientdat/x").Body, "ok");
    std::this_thread::sleep_for(20ms);  // distinct idle times
  }
  // Each newcomer closes the connection that has waited longest.
  std::vector<THttpConnection> newcomers;
  newcomers.emplace_back(s.Port);
  EXPECT_EQ(newcomers.back().Get("/wclientdat/new").Body, "ok");
  EXPECT_THROW(idle[0].Get("/wclientdat/x"), std::exception) << "the longest idle was closed";
  EXPECT_EQ(idle[2].Get("/wclientdat/x").Body, "ok");
  newcomers.emplace_back(s.Port);
  EXPECT_EQ(newcomers.back().Get("/wclientdat/new").Body, "ok");
  EXPECT_THROW(idle[1].Get("/wclientdat/x"), std::exception);
  EXPECT_EQ(idle[2].Get("/wclientdat/x").Body, "ok");
}

TEST(HttpApiServer, ConnectionsBeyondTheLimitAreClosedAtOnceWhenNoneIsIdle) {
  THttpServerLimits limits;
  limits.MaxConnections = 3;  // three that have not finished a request yet
  TServed s([](THttpServerRequest&) { return 200u; }, limits);
  boost::asio::io_context io;
  std::vector<boost::asio::ip::tcp::socket> held;
  for (int i = 0; i < 3; ++i) {
    held.emplace_back(io);
    held.back().connect({boost::asio::ip::make_address("127.0.0.1"), s.Port});
  }
  ASSERT_TRUE(WaitUntil([&] { return s.Server.OpenConnections() == 3; }, 5s));
  auto refused = RawExchange(s.Port, "GET /wclientdat/x HTTP/1.1\r\n\r\n", 5s);
  EXPECT_TRUE(refused.Closed);
  EXPECT_EQ(refused.Bytes, "");
  held.pop_back();
  ASSERT_TRUE(WaitUntil([&] { return s.Server.OpenConnections() == 2; }, 5s));
  EXPECT_EQ(HttpGet(s.Port, "/wclientdat/x").Status, 200u);
}

TEST(HttpApiServer, ThousandsOfIdleConnectionsAtTheCapStillAdmitANewClient) {
  // One process holds both ends, so the count stays within the descriptor limit of the tests.
  constexpr int kIdle = 2000;
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_cur < 2 * kIdle + 300) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 2 * kIdle + 300);
    setrlimit(RLIMIT_NOFILE, &files);
  }
  if (files.rlim_cur < 2 * kIdle + 300) GTEST_SKIP() << "descriptor limit too low";
  THttpServerLimits limits;
  limits.MaxConnections = kIdle;
  TServed s([](THttpServerRequest& c) {
    c.OutContent = "ok";
    return 200u;
  }, limits);
  std::vector<THttpConnection> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.emplace_back(s.Port);
    ASSERT_EQ(idle.back().Get("/wclientdat/x").Body, "ok");
  }
  ASSERT_EQ(s.Server.OpenConnections(), std::size_t(kIdle));
  std::vector<THttpConnection> newcomers;
  for (int i = 0; i < 5; ++i) {
    newcomers.emplace_back(s.Port);
    EXPECT_EQ(newcomers.back().Get("/wclientdat/new").Body, "ok");
  }
  for (int i = 0; i < 5; ++i) EXPECT_THROW(idle[i].Get("/wclientdat/x"), std::exception) << i;
  EXPECT_EQ(idle[5].Get("/wclientdat/x").Body, "ok");
}

TEST(HttpApiServer, ReleaseWaitsForRunningHandlers) {
  std::atomic<bool> entered{false}, finished{false};
  auto served = std::make_unique<TServed>([&](THttpServerRequest&) {
    entered = true;
    std::this_thread::sleep_for(300ms);
    finished = true;
    return 200u;
  });
  auto client = std::async(std::launch::async, [port = served->Port] {
    try {
      HttpGet(port, "/wclientdat/x");
    } catch (...) {
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return entered.load(); }, 5s));
  served.reset();
  EXPECT_TRUE(finished.load());
  client.get();
}
