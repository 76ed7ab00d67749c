// Load-benchmark server: the HTTP front end with 32 workers and a fixed handler that answers
// ".../8k.html" and ".../64k.html" with fixed bodies, the way the resource server answers.
//   http_bench_server --write-files DIR   writes the same bodies as DIR/wclientdat/{8k,64k}.html
//   http_bench_server --free-port         prints a free loopback port
//   http_bench_server PORT                serves on 127.0.0.1:PORT until SIGINT or SIGTERM
// BENCH_WORKERS=N in the environment serves on N workers instead of 32, for experiments.
#include <utility>

#include <boost/asio.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/FileSystem.h"
#include "http/HttpApiServer.h"
#include "service/FrontEndCoding.h"
#include "support/SampleBody.h"

int main(int argc, char** argv) {
  namespace net = boost::asio;
  if (argc == 3 && std::strcmp(argv[1], "--write-files") == 0) {
    std::string dir = std::string(argv[2]) + "/wclientdat";
    ForceDirectories(dir);
    WriteFileAtomic(dir + "/8k.html", SampleResponseBody(8 * 1024));
    WriteFileAtomic(dir + "/64k.html", SampleResponseBody(64 * 1024));
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--free-port") == 0) {
    net::io_context io;
    net::ip::tcp::acceptor probe(io, {net::ip::make_address("127.0.0.1"), 0});
    std::printf("%u\n", unsigned(probe.local_endpoint().port()));
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PORT | --write-files DIR | --free-port\n", argv[0]);
    return 2;
  }
  const std::string body8k = SampleResponseBody(8 * 1024), body64k = SampleResponseBody(64 * 1024);
  THttpApiServer server;
  if (server.AddUrl("wclientdat", argv[1], false, "127.0.0.1", true, 0) != 0) {
    std::fprintf(stderr, "cannot bind port %s\n", argv[1]);
    return 1;
  }
  server.RegisterCompress(CompressDeflate, 1024);
  server.SetEntityTagger(EntityTag);
  server.SetOnRequest([&](THttpServerRequest& c) -> uint32_t {
    const bool big = c.URL.size() >= 8 && c.URL.compare(c.URL.size() - 8, 8, "64k.html") == 0;
    c.OutContent = big ? body64k : body8k;
    c.OutContentType = "text/html; charset=UTF-8";
    return 200;
  });
  const char* workers = std::getenv("BENCH_WORKERS");
  server.Clone(workers ? std::atoi(workers) - 1 : 31);
  std::printf("serving %s\n", server.GetRegisteredUrl().c_str());
  std::fflush(stdout);
  net::io_context signals;
  net::signal_set set(signals, SIGINT, SIGTERM);
  set.async_wait([](const boost::system::error_code&, int) {});
  signals.run();
  return 0;
}
