#include "host/server/message_dispatcher.hpp"

#include "host/input/keyboard_failure_reply.hpp"

namespace glidemate::host {

asio::awaitable<void> MessageDispatcher::reply(Session& session, Message message) {
  try {
    co_await session.send(std::move(message));
  } catch (const std::exception&) {
    // The phone is gone or going; its session ends on its own.
  }
}

std::optional<Message> MessageDispatcher::handleInput(const Message& message) {
  if (input_ == nullptr) return std::nullopt;
  if (const auto* m = std::get_if<Message::PointerMove>(&message.value)) {
    input_->input.move(m->dx, m->dy);
  } else if (const auto* b = std::get_if<Message::Button>(&message.value)) {
    input_->input.button(b->button, b->isDown);
  } else if (const auto* g = std::get_if<Message::Gesture>(&message.value)) {
    input_->keystrokes.perform(g->gesture);
  } else if (const auto* k = std::get_if<Message::Key>(&message.value)) {
    try {
      input_->keystrokes.key(k->key, k->modifiers);
    } catch (const std::exception& e) {
      return Message::Event{KeyboardFailureReply::forKey(e)};
    }
  } else if (const auto* t = std::get_if<Message::Text>(&message.value)) {
    try {
      input_->keystrokes.type(t->text);
    } catch (const std::exception& e) {
      return Message::Event{KeyboardFailureReply::forText(e)};
    }
  } else if (const auto* s = std::get_if<Message::Scroll>(&message.value)) {
    input_->scroll->scroll(s->phase, s->dx, s->dy);
  }
  return std::nullopt;
}

asio::awaitable<void> MessageDispatcher::handle(Session& session, Message message) {
  if (const auto* ping = std::get_if<Message::Ping>(&message.value)) {
    Message pong = Message::Pong{ping->sendTimeNs};
    co_await reply(session, std::move(pong));
  } else if (const auto* command = std::get_if<Message::Command>(&message.value)) {
    co_await commands_.handle(session, command->command);
  } else if (auto answer = handleInput(message)) {
    co_await reply(session, std::move(*answer));
  }
  // Pongs, events and icon chunks from a phone are ignored.
}

}  // namespace glidemate::host
