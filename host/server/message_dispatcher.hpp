#pragma once

#include <asio/awaitable.hpp>

#include "host/server/command_dispatcher.hpp"
#include "host/server/input_services.hpp"
#include "kit/session/session.hpp"
#include "kit/wire/message.hpp"

namespace glidemate::host {

// Routes each message of an established session to the service that acts
// on it, and answers on that session. Messages of one session are handled
// one at a time: the host server awaits each before taking the next.
// Failures caused by a phone come back to it as Event::Failed; nothing a
// phone sends ends its session, and a failed reply is ignored.
class MessageDispatcher {
 public:
  // Without input services (a host with no desktop to drive) input
  // messages are dropped. Commands go to `commands`.
  MessageDispatcher(InputServices* input, CommandDispatcher& commands) : input_(input), commands_(commands) {}

  asio::awaitable<void> handle(Session& session, Message message);

 private:
  static asio::awaitable<void> reply(Session& session, Message message);
  // The reply for an input message, if it needs one.
  std::optional<Message> handleInput(const Message& message);

  InputServices* input_;
  CommandDispatcher& commands_;
};

}  // namespace glidemate::host
