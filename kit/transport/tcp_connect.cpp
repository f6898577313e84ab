#include "kit/transport/tcp_connect.hpp"

#include <asio/connect.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <memory>

#include "kit/transport/transport_error.hpp"

namespace glidemate {
namespace {

// What the deadline may still touch after the coroutine has moved on: its
// handler can already be queued when the connection succeeds.
struct Attempt {
  explicit Attempt(const asio::any_io_executor& executor) : resolver(executor), socket(executor) {}
  asio::ip::tcp::resolver resolver;
  asio::ip::tcp::socket socket;
  bool timedOut = false;
};

}  // namespace

asio::awaitable<asio::ip::tcp::socket> connectTcp(std::string host, std::uint16_t port, TcpParameters parameters) {
  auto executor = co_await asio::this_coro::executor;
  auto attempt = std::make_shared<Attempt>(executor);

  asio::steady_timer deadline(executor, parameters.connectTimeout);
  deadline.async_wait([attempt](asio::error_code ec) {
    if (ec) {
      return;
    }
    attempt->timedOut = true;
    attempt->resolver.cancel();
    asio::error_code ignored;
    attempt->socket.close(ignored);
  });

  asio::error_code ec;
  auto endpoints = co_await attempt->resolver.async_resolve(
      host, std::to_string(port), asio::ip::resolver_base::numeric_service,
      asio::redirect_error(asio::use_awaitable, ec));
  if (!ec) {
    co_await asio::async_connect(attempt->socket, endpoints, asio::redirect_error(asio::use_awaitable, ec));
  }
  deadline.cancel();

  if (attempt->timedOut) {
    throw TransportError::underlying(asio::error_code(asio::error::timed_out).message());
  }
  asio::cancellation_state cancellation = co_await asio::this_coro::cancellation_state;
  if (cancellation.cancelled() != asio::cancellation_type::none) {
    throw asio::system_error(asio::error::operation_aborted);
  }
  if (ec) {
    throw TransportError::underlying(ec.message());
  }
  if (parameters.noDelay) {
    attempt->socket.set_option(asio::ip::tcp::no_delay(true), ec);
  }
  co_return std::move(attempt->socket);
}

}  // namespace glidemate
