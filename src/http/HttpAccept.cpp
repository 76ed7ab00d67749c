#include "http/HttpAccept.h"

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>

#include <limits>

#include "http/HttpSession.h"

namespace net = boost::asio;
using tcp = net::ip::tcp;
using TCore = THttpApiServer::TCore;

namespace {

// At the connection cap: closes the connection that has waited longest between requests. False
// when no connection waits.
bool CloseLongestIdle(TCore& core) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::shared_ptr<THttpSession> oldest;
    int64_t since = std::numeric_limits<int64_t>::max();
    {
      std::lock_guard<std::mutex> hold(core.Loop.SessionsLock);
      for (THttpSession* s : core.Loop.Sessions) {
        const int64_t t = s->IdleSince();
        if (t > 0 && t < since) {
          if (auto held = s->weak_from_this().lock()) {
            oldest = std::move(held);
            since = t;
          }
        }
      }
    }
    if (!oldest) return false;
    if (oldest->ClaimIdle(since)) {
      oldest->Abort();
      return true;
    }
  }
  return false;
}

}  // namespace

void Accept(const std::shared_ptr<TCore>& core, TCore::TListener* listener) {
  TEventLoop& loop = core->Loop;
  listener->Acceptor.async_accept(
      *loop.Io, [core, listener, &loop](boost::system::error_code ec, tcp::socket socket) {
        if (core->Stopping.load()) return;
        if (ec) {
          if (ec == net::error::operation_aborted) return;
          // Out of descriptors or memory: pause instead of spinning on the failing accept.
          listener->Retry.expires_after(std::chrono::milliseconds(50));
          listener->Retry.async_wait([core, listener](boost::system::error_code ec2) {
            if (!ec2) Accept(core, listener);
          });
          return;
        }
        if (core->Connections.fetch_add(1) >= core->Limits.MaxConnections && !CloseLongestIdle(*core)) {
          core->Connections.fetch_sub(1);
          socket.close(ec);
        } else {
          socket.set_option(tcp::no_delay(true), ec);
          auto owner = socket.get_executor();
          net::post(owner, [session = std::make_shared<THttpSession>(std::move(socket), core, loop, listener->Port)] {
            session->Start();
          });
        }
        Accept(core, listener);
      });
}

boost::system::error_code Listen(tcp::acceptor& acceptor, const std::optional<net::ip::address>& address,
                                 uint16_t port) {
  boost::system::error_code ec, ignored;
  auto bind = [&](const tcp::endpoint& ep) {
    acceptor.open(ep.protocol(), ec);
    if (!ec && ep.address().is_v6() && !address) acceptor.set_option(net::ip::v6_only(false), ec);
    if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(ep, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) acceptor.close(ignored);
  };
  if (address) {
    bind(tcp::endpoint(*address, port));
    return ec;
  }
  bind(tcp::endpoint(net::ip::address_v6::any(), port));
  if (ec == net::error::address_family_not_supported || ec == boost::system::errc::address_not_available ||
      ec == net::error::no_protocol_option) {
    ec.clear();
    bind(tcp::endpoint(net::ip::address_v4::any(), port));
  }
  return ec;
}
