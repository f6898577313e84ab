#include "kit/session/session.hpp"

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <exception>
#include <stdexcept>
#include <utility>

#include "kit/session/handshake_error.hpp"
#include "kit/session/handshake_message.hpp"
#include "kit/session/session_handshake.hpp"
#include "kit/session/session_pump.hpp"
#include "kit/wire/codec_error.hpp"
#include "kit/wire/message_codec.hpp"
#include "kit/wire/record_framer.hpp"

namespace glidemate {
namespace {

bool isHandshakeError(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const HandshakeError&) {
    return true;
  } catch (...) {
    return false;
  }
}

bool isPeerReported(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const HandshakeError& e) {
    return std::holds_alternative<HandshakeError::PeerReported>(e.which());
  } catch (...) {
    return false;
  }
}

std::string reasonFor(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return failureReason(e);
  } catch (...) {
    return "handshake failed";
  }
}

}  // namespace

std::shared_ptr<Session> Session::make(const asio::any_io_executor& executor, std::shared_ptr<Transport> transport,
                                       Role role, PeerInfo localInfo, std::shared_ptr<PairingProvider> pairing,
                                       std::optional<std::string> expectedPeerId, Duration handshakeTimeout,
                                       std::optional<Duration> firstRecordTimeout) {
  return std::shared_ptr<Session>(new Session(executor, std::move(transport), role, std::move(localInfo),
                                              std::move(pairing), std::move(expectedPeerId), handshakeTimeout,
                                              firstRecordTimeout));
}

Session::Session(const asio::any_io_executor& executor, std::shared_ptr<Transport> transport, Role role,
                 PeerInfo localInfo, std::shared_ptr<PairingProvider> pairing,
                 std::optional<std::string> expectedPeerId, Duration handshakeTimeout,
                 std::optional<Duration> firstRecordTimeout)
    : executor_(executor),
      role_(role),
      transport_(std::move(transport)),
      localInfo_(std::move(localInfo)),
      pairing_(std::move(pairing)),
      expectedPeerId_(std::move(expectedPeerId)),
      handshakeTimeout_(handshakeTimeout),
      firstRecordTimeout_(firstRecordTimeout),
      inbox_(std::make_shared<SessionInbox>(executor)) {}

Session::~Session() {
  inbox_->setDirectReader(nullptr);
  close();
}

void Session::startPump() { pumpTask_ = Task(executor_, SessionPump::run(transport_, inbox_)); }

asio::awaitable<PeerInfo> Session::performHandshake() {
  auto self = shared_from_this();
  if (handshakeStarted_) {
    throw std::logic_error("a session performs its handshake once");
  }
  if (!closed_) {
    startPump();
    transport_->start();
    timeoutTask_ = Task(executor_, expireHandshake(weak_from_this(), handshakeTimeout_, firstRecordTimeout_));
  }
  handshakeStarted_ = true;
  handshaking_ = true;

  std::optional<SessionHandshake::Result> result;
  std::exception_ptr failure;
  try {
    SessionHandshake handshake(role_, *transport_, *inbox_, *pairing_, localInfo_, expectedPeerId_);
    result.emplace(co_await handshake.run());
  } catch (...) {
    failure = std::current_exception();
  }
  // Whatever broke because the session was closed under the handshake (a
  // send on the closed transport, say), the cause is the close.
  if (closed_ && (!failure || !isHandshakeError(failure))) {
    failure = std::make_exception_ptr(HandshakeError::connectionClosed());
  }
  if (failure) {
    co_await sendFailure(failure);
  }
  handshaking_ = false;
  timeoutTask_.cancel();
  if (failure) {
    std::rethrow_exception(failure);
  }
  cipher_.emplace(std::move(result->cipher));
  sessionId_ = result->sessionId;
  co_return std::move(result->peer);
}

asio::awaitable<void> Session::sendFailure(std::exception_ptr failure) {
  // The peer's own Failure needs no answer; a closed transport takes none.
  if (isPeerReported(failure) || closed_) {
    co_return;
  }
  const HandshakeMessage::Failure message{reasonFor(failure)};
  const EncodedHandshake encoded = encodeHandshake(message);
  Bytes record = RecordFramer::encode(RecordKind::handshake, encoded.body);
  try {
    co_await transport_->send(std::move(record), Channel::reliable);
  } catch (...) {
    // The handshake has failed already; a lost Failure changes nothing.
  }
}

asio::awaitable<void> Session::expireHandshake(std::weak_ptr<Session> weak, Duration timeout,
                                               std::optional<Duration> firstRecordTimeout) {
  asio::steady_timer timer(co_await asio::this_coro::executor);
  Duration waited{};
  // A connection that has not even said hello by then is closed early, so
  // that silent sockets cannot hold their places for the whole handshake.
  if (firstRecordTimeout && *firstRecordTimeout < timeout) {
    timer.expires_after(*firstRecordTimeout);
    co_await timer.async_wait(asio::use_awaitable);
    waited = *firstRecordTimeout;
    if (auto self = weak.lock(); self && self->handshaking_ && !self->hasReceivedRecord()) {
      self->close();
      co_return;
    }
  }
  timer.expires_after(timeout - waited);
  co_await timer.async_wait(asio::use_awaitable);
  if (auto self = weak.lock(); self && self->handshaking_) {
    self->close();
  }
}

asio::awaitable<void> Session::send(Message message, Channel channel) {
  if (!cipher_) {
    throw HandshakeError::connectionClosed();
  }
  const Bytes plaintext = MessageCodec::encode(message);
  // Checked before a sequence number is taken: a number used up by a frame
  // that never leaves would look like a lost frame to the peer and end its
  // reliable stream.
  const std::size_t frameSize = FrameCipher::minimumFrameSize + plaintext.size();
  if (frameSize > RecordFramer::maxBodySize) {
    throw CodecError::recordTooLarge(static_cast<std::int64_t>(frameSize));
  }
  const bool unreliable = channel == Channel::unreliable && transport_->hasUnreliableChannel();
  const std::uint64_t sequence = unreliable ? unreliableSendSequence_++ : reliableSendSequence_++;
  const FrameHeader header(unreliable, sessionId_, sequence);
  Bytes record;
  RecordFramer::encodeHead(RecordKind::encrypted, frameSize, record);
  cipher_->seal(plaintext, header, record);
  auto transport = transport_;
  co_await transport->send(std::move(record), unreliable ? Channel::unreliable : Channel::reliable);
}

AsyncStream<Message> Session::messages() {
  if (!cipher_) {
    throw HandshakeError::connectionClosed();
  }
  if (outlet_) {
    throw std::logic_error("a session's messages are read through one stream");
  }
  auto made = AsyncStream<Message>::make(executor_);
  outlet_ = std::make_shared<StreamProducer<Message>>(std::move(made.second));
  // Records that arrive while the stream has room are opened at once; the
  // task drains what queued up while it had none.
  inbox_->setDirectReader([this](const SessionInbound& inbound) {
    if (outlet_->isFinished()) {
      return true;
    }
    if (outlet_->buffered() >= messageLookahead) {
      return false;
    }
    pass(inbound, *outlet_);
    return true;
  });
  messagesTask_ = Task(executor_, deliverMessages(weak_from_this(), inbox_, outlet_));
  return std::move(made.first);
}

bool Session::pass(const SessionInbound& inbound, StreamProducer<Message>& outlet) {
  SessionReceiver::Outcome outcome = receiver_.accept(*cipher_, inbound);
  if (inbound.channel == Channel::unreliable) {
    const auto* dropped = std::get_if<SessionReceiver::Dropped>(&outcome);
    // Only a datagram that opened and passed the replay window shows where
    // the phone really is; anyone on its network address could send the rest.
    if (dropped == nullptr ? std::holds_alternative<SessionReceiver::Delivered>(outcome) : dropped->authentic) {
      transport_->adoptDatagramSender(inbound.sender);
    }
  }
  if (auto* delivered = std::get_if<SessionReceiver::Delivered>(&outcome)) {
    outlet.yield(std::move(delivered->message));
  } else if (std::holds_alternative<SessionReceiver::Ended>(outcome)) {
    outlet.finish();
    return false;
  }
  return true;
}

asio::awaitable<void> Session::deliverMessages(std::weak_ptr<Session> weak, std::shared_ptr<SessionInbox> inbox,
                                               std::shared_ptr<StreamProducer<Message>> outlet) {
  while (!outlet->isFinished()) {
    co_await outlet->waitForRoom(messageLookahead);
    std::optional<SessionInbound> inbound = co_await inbox->next();
    auto self = weak.lock();
    if (!inbound || !self || !self->pass(*inbound, *outlet)) {
      break;
    }
  }
  outlet->finish();
}

void Session::close() {
  if (closed_) {
    return;
  }
  closed_ = true;
  pumpTask_.cancel();
  transport_->close();
  inbox_->finish();
}

}  // namespace glidemate
