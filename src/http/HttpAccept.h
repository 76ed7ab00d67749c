// Accepting connections: binding a listener's port and taking its clients onto the event loop,
// within the cap on open connections.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "http/HttpServerCore.h"

// Binds the port on `address`, or on every interface (IPv6 with IPv4 mapped, else IPv4 alone).
boost::system::error_code Listen(boost::asio::ip::tcp::acceptor& acceptor,
                                 const std::optional<boost::asio::ip::address>& address, uint16_t port);
// Accepts the clients of `listener` until the front end stops, each into a new connection.
void Accept(const std::shared_ptr<THttpApiServer::TCore>& core, THttpApiServer::TCore::TListener* listener);
