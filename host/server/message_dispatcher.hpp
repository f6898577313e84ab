#pragma once

#include <asio/awaitable.hpp>

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
  asio::awaitable<void> handle(Session& session, Message message);

 private:
  static asio::awaitable<void> reply(Session& session, Message message);
};

}  // namespace glidemate::host
