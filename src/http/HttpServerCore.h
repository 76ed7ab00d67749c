// The state one front end shares among its parts: the limits, the configuration that the calls of
// THttpApiServer change while serving, the loop, the workers, the bandwidth cap and the listeners.
#pragma once

#include <utility>  // before Asio: its coroutine header needs std::exchange under C++20

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/BandwidthBucket.h"
#include "http/EventLoop.h"
#include "http/HttpApiServer.h"
#include "http/WorkerPool.h"

struct THttpCoding {
  THttpSocketCompress Coder;
  std::size_t MinSize;
};

struct THttpRoute {
  uint16_t Port;
  std::string Root;  // "/name/"
};

// What the configuration calls change while serving; requests read a snapshot of it.
struct THttpConfig {
  TOnHttpServerRequest OnRequest;
  TOnHttpServerRequest OnRequestInline;
  TOnHttpResponse OnResponse;
  THttpEntityTagger Tagger = nullptr;
  std::vector<THttpCoding> Codings;
  std::string CodingNames;  // joined with ","
  std::vector<THttpRoute> Routes;
};

struct THttpApiServer::TCore {
  explicit TCore(const THttpServerLimits& limits) : Limits(limits) {}

  const THttpServerLimits Limits;
  TEventLoop Loop;  // its threads also accept
  TWorkerPool Pool;
  TBandwidthBucket Bucket;
  std::atomic<bool> Stopping{false};
  std::atomic<std::size_t> Connections{0};

  mutable std::mutex ConfigLock;
  std::shared_ptr<const THttpConfig> Config = std::make_shared<THttpConfig>();
  std::atomic<uint64_t> ConfigVersion{0};

  std::shared_ptr<const THttpConfig> Snapshot() const {
    std::lock_guard<std::mutex> hold(ConfigLock);
    return Config;
  }
  // Keeps `held` current; takes the lock only when the configuration changed since.
  void Refresh(std::shared_ptr<const THttpConfig>& held, uint64_t& version) const {
    if (held && version == ConfigVersion.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> hold(ConfigLock);
    held = Config;
    version = ConfigVersion.load(std::memory_order_relaxed);
  }
  template <class F>
  void Change(F change) {
    std::lock_guard<std::mutex> hold(ConfigLock);
    auto next = std::make_shared<THttpConfig>(*Config);
    change(*next);
    Config = std::move(next);
    ConfigVersion.fetch_add(1, std::memory_order_release);
  }

  // Owned by the server object; guarded by Lock.
  struct TListener {
    explicit TListener(boost::asio::io_context& io) : Acceptor(io), Retry(io) {}
    boost::asio::ip::tcp::acceptor Acceptor;
    boost::asio::steady_timer Retry;
    uint16_t Port = 0;
  };
  mutable std::mutex Lock;
  std::vector<std::unique_ptr<TListener>> Listeners;
  std::vector<std::string> Urls;
  uint16_t LastPort = 0;
  bool Cloned = false;

  // How often the loop looks for connections past their time limit.
  std::chrono::steady_clock::duration SweepInterval() const {
    auto shortest = std::min({Limits.HeaderTimeout, Limits.IdleTimeout, Limits.SendTimeout});
    return std::clamp<std::chrono::steady_clock::duration>(shortest / 4, std::chrono::milliseconds(5),
                                                           std::chrono::seconds(1));
  }
};
