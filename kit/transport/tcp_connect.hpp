#pragma once

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <string>

#include "kit/transport/tcp_parameters.hpp"

namespace glidemate {

// Opens a TCP connection to `host` (a name or a numeric address) and
// `port`, trying each address the name resolves to, within
// `parameters.connectTimeout` for the whole attempt. Throws
// TransportError::underlying with the network's description on failure or
// time-out; a cancelled caller gets asio::system_error(operation_aborted).
asio::awaitable<asio::ip::tcp::socket> connectTcp(std::string host, std::uint16_t port, TcpParameters parameters);

}  // namespace glidemate
