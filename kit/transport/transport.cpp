#include "kit/transport/transport.hpp"

namespace glidemate {

asio::awaitable<std::optional<std::uint16_t>> Transport::prepareDatagramChannel() { co_return std::nullopt; }

asio::awaitable<void> Transport::connectDatagramChannel(std::uint16_t) { co_return; }

void Transport::adoptDatagramSender(std::uint32_t) {}

std::optional<std::string> Transport::remoteHost() const { return std::nullopt; }

}  // namespace glidemate
