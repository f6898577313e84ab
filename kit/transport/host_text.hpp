#pragma once

#include <asio/ip/address.hpp>
#include <string>

namespace glidemate {

// The textual form of a peer's address by which hosts are compared: an
// IPv4 address mapped into IPv6 is written as IPv4 (a dual-stack socket
// reports it so), and an IPv6 scope suffix ("%en0") is dropped.
std::string hostText(const asio::ip::address& address);

}  // namespace glidemate
