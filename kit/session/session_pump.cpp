#include "kit/session/session_pump.hpp"

#include <exception>
#include <utility>
#include <variant>

namespace glidemate {

SessionPump::SessionPump(std::shared_ptr<SessionInbox> inbox) : inbox_(std::move(inbox)) {}

void SessionPump::take(TransportEvent event) {
  if (auto* data = std::get_if<TransportEvent::Data>(&event.value)) {
    if (data->channel == Channel::reliable) {
      takeStreamBytes(data->bytes);
    } else {
      takeDatagram(data->bytes, data->sender);
    }
  } else if (std::holds_alternative<TransportEvent::Closed>(event.value)) {
    inbox_->finish();
  }
}

void SessionPump::takeStreamBytes(const Bytes& bytes) {
  if (streamBroken_) {
    return;
  }
  try {
    framer_.append(bytes);
    while (auto record = framer_.next()) {
      inbox_->deliver(SessionInbound{std::move(*record), Channel::reliable});
    }
  } catch (const std::exception&) {
    // A zero length or an unknown record kind: the stream has lost its
    // framing for good.
    streamBroken_ = true;
    framer_ = RecordFramer();
    inbox_->finish();
  }
}

void SessionPump::takeDatagram(const Bytes& bytes, std::uint32_t sender) {
  try {
    inbox_->deliver(SessionInbound{RecordFramer::decodeSingle(bytes), Channel::unreliable, sender});
  } catch (const std::exception&) {
    // Not one whole record: dropped.
  }
}

asio::awaitable<void> SessionPump::run(std::shared_ptr<Transport> transport, std::shared_ptr<SessionInbox> inbox) {
  SessionPump pump(inbox);
  auto& events = transport->events();
  while (auto event = co_await events.next()) {
    pump.take(std::move(*event));
  }
  inbox->finish();
}

}  // namespace glidemate
