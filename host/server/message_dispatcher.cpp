#include "host/server/message_dispatcher.hpp"

namespace glidemate::host {

asio::awaitable<void> MessageDispatcher::reply(Session& session, Message message) {
  try {
    co_await session.send(std::move(message));
  } catch (const std::exception&) {
    // The phone is gone or going; its session ends on its own.
  }
}

asio::awaitable<void> MessageDispatcher::handle(Session& session, Message message) {
  if (const auto* ping = std::get_if<Message::Ping>(&message.value)) {
    Message pong = Message::Pong{ping->sendTimeNs};
    co_await reply(session, std::move(pong));
  }
}

}  // namespace glidemate::host
