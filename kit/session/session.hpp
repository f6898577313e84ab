// The secure session: the handshake in both roles (authentication with a
// stored long-term key, or pairing through a six-digit code) and, once
// established, messages protected frame by frame on the reliable and the
// datagram channel. This header pulls in Asio; the value types of the
// session layer are in session_kit.hpp.
#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kit/runtime/async_stream.hpp"
#include "kit/runtime/task.hpp"
#include "kit/session/frame_cipher.hpp"
#include "kit/session/pairing_provider.hpp"
#include "kit/session/session_inbox.hpp"
#include "kit/session/session_receiver.hpp"
#include "kit/session/session_role.hpp"
#include "kit/transport/transport.hpp"
#include "kit/wire/message.hpp"
#include "kit/wire/status.hpp"

namespace glidemate {

// The secure channel between one phone and one host over one transport.
// The same type serves both ends: the host makes one host-role session per
// accepted connection, the phone one client-role session per connection.
//
// An actor on one executor: the executor it is made with, which must be
// the transport's (in Glidemate, the main executor: the io_context's own;
// a process that runs its context on several threads gives both the same
// strand). Every public function is called there and every task of the
// session runs there, so its state needs no locks.
//
// Owned by std::shared_ptr. It owns its transport and its tasks: the pump
// that drains the transport's events (from performHandshake() to close()),
// the handshake time-out, and the task behind messages(). Destroying the
// session closes the transport and cancels them all.
//
// Coroutine arguments: pass named values, never a braced temporary
// (`co_await session->send(move)`, not `co_await session->send(Message{...})`):
// g++ 12 destroys such a temporary twice inside a co_await expression.
class Session : public std::enable_shared_from_this<Session> {
 public:
  using Role = SessionRole;
  using Inbound = SessionInbound;
  using Duration = std::chrono::steady_clock::duration;

  static constexpr Duration defaultHandshakeTimeout = std::chrono::seconds(120);
  // What a host allows a new connection to deliver its first whole record
  // in. A phone sends its Hello at once; only the rest of the handshake
  // waits for a person typing a code.
  static constexpr Duration defaultFirstRecordTimeout = std::chrono::seconds(10);
  // How many decoded messages may wait in the messages() stream. Beyond
  // that the session stops taking records from its inbox, whose cap then
  // sheds datagrams first, so a slow reader never lets memory grow.
  static constexpr std::size_t messageLookahead = 64;

  // Starts nothing. `expectedPeerId` is the host a phone means to reach
  // (client role only). `handshakeTimeout` limits the whole handshake;
  // `firstRecordTimeout`, when given, closes the session sooner if not one
  // whole record has arrived by then.
  static std::shared_ptr<Session> make(const asio::any_io_executor& executor, std::shared_ptr<Transport> transport,
                                       Role role, PeerInfo localInfo, std::shared_ptr<PairingProvider> pairing,
                                       std::optional<std::string> expectedPeerId = std::nullopt,
                                       Duration handshakeTimeout = defaultHandshakeTimeout,
                                       std::optional<Duration> firstRecordTimeout = std::nullopt);

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  // Starts the transport and runs the whole handshake; returns the peer's
  // id and name. Throws HandshakeError (connectionClosed when the time-out
  // or close() cut it short), CryptoLibraryError for a malformed ephemeral
  // key, or a transport or codec error. On every error except the peer's
  // own Failure, the peer is sent one Failure with the matching reason.
  // The session is not closed on failure: its owner closes it. Runs once
  // per session (std::logic_error otherwise).
  asio::awaitable<PeerInfo> performHandshake();

  bool isEstablished() const { return cipher_.has_value(); }
  bool isClosed() const { return closed_; }
  // Whether the peer has delivered one whole record yet.
  bool hasReceivedRecord() const { return inbox_->hasReceived(); }

  // Seals the message and sends it. `unreliable` travels as a datagram
  // while the transport has a datagram channel, and on the reliable channel
  // otherwise. Throws HandshakeError::connectionClosed before the handshake
  // has succeeded, CodecError::recordTooLarge for a message too big for one
  // record (without using up a sequence number), or the transport's error.
  asio::awaitable<void> send(Message message, Channel channel = Channel::reliable);

  // Every message received from now on, in order; the stream finishes when
  // the inbound side ends (the transport closed, its byte stream broke, a
  // reliable frame went missing) or the session is closed. Records that
  // fail to open, repeat or do not decode are dropped one by one. Called
  // once, after the handshake: throws HandshakeError::connectionClosed
  // before it, std::logic_error on a second call.
  AsyncStream<Message> messages();

  // Ends the session: stops the pump, closes the transport and ends the
  // inbound side. Idempotent.
  void close();

  Role role() const { return role_; }
  const std::shared_ptr<Transport>& transport() const { return transport_; }
  // Chosen by the host, learnt by the phone; 0 until established.
  std::uint16_t sessionId() const { return sessionId_; }

 private:
  Session(const asio::any_io_executor& executor, std::shared_ptr<Transport> transport, Role role,
          PeerInfo localInfo, std::shared_ptr<PairingProvider> pairing, std::optional<std::string> expectedPeerId,
          Duration handshakeTimeout, std::optional<Duration> firstRecordTimeout);

  void startPump();
  asio::awaitable<void> sendFailure(std::exception_ptr failure);
  static asio::awaitable<void> expireHandshake(std::weak_ptr<Session> weak, Duration timeout,
                                               std::optional<Duration> firstRecordTimeout);
  // Opens one record into the message stream; false once the inbound side
  // has ended.
  bool pass(const SessionInbound& inbound, StreamProducer<Message>& outlet);
  static asio::awaitable<void> deliverMessages(std::weak_ptr<Session> weak, std::shared_ptr<SessionInbox> inbox,
                                               std::shared_ptr<StreamProducer<Message>> outlet);

  asio::any_io_executor executor_;
  Role role_;
  std::shared_ptr<Transport> transport_;
  PeerInfo localInfo_;
  std::shared_ptr<PairingProvider> pairing_;
  std::optional<std::string> expectedPeerId_;
  Duration handshakeTimeout_;
  std::optional<Duration> firstRecordTimeout_;

  std::shared_ptr<SessionInbox> inbox_;
  Task pumpTask_;
  Task timeoutTask_;
  Task messagesTask_;
  bool handshakeStarted_ = false;
  bool handshaking_ = false;
  bool closed_ = false;

  std::optional<FrameCipher> cipher_;
  std::uint16_t sessionId_ = 0;
  std::uint64_t reliableSendSequence_ = 0;
  std::uint64_t unreliableSendSequence_ = 0;
  SessionReceiver receiver_;
  std::shared_ptr<StreamProducer<Message>> outlet_;
};

}  // namespace glidemate
