#include "kit/session/session_handshake.hpp"

#include <exception>
#include <string_view>
#include <utility>

#include "kit/session/constant_time_equal.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/handshake_message.hpp"
#include "kit/session/hmac_sha256.hpp"
#include "kit/session/secure_random.hpp"
#include "kit/session/session_keys.hpp"
#include "kit/wire/protocol.hpp"
#include "kit/wire/record_framer.hpp"

namespace glidemate {
namespace {

constexpr std::string_view clientConfirmLabel = "glidemate-client";
constexpr std::string_view hostConfirmLabel = "glidemate-host";

ByteView asBytes(std::string_view text) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

HmacSha256::Mac confirmation(const SymmetricKey& key, std::string_view label, ByteView transcript) {
  return HmacSha256::mac(key.view(), {asBytes(label), transcript});
}

bool isMismatch(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const HandshakeError& e) {
    return e == HandshakeError::pairingCodeMismatch();
  } catch (...) {
    return false;
  }
}

}  // namespace

SessionHandshake::SessionHandshake(SessionRole role, Transport& transport, SessionInbox& inbox,
                                   PairingProvider& pairing, PeerInfo localInfo,
                                   std::optional<std::string> expectedPeerId)
    : role_(role),
      transport_(transport),
      inbox_(inbox),
      pairing_(pairing),
      localInfo_(std::move(localInfo)),
      expectedPeerId_(std::move(expectedPeerId)),
      keyPair_(X25519KeyPair::generate()) {}

asio::awaitable<SessionHandshake::Result> SessionHandshake::run() {
  if (role_ == SessionRole::host) {
    co_return co_await runHost();
  }
  co_return co_await runClient();
}

template <class M>
asio::awaitable<SessionHandshake::Received<M>> SessionHandshake::expect() {
  std::optional<SessionInbound> inbound = co_await inbox_.next();
  if (!inbound) {
    throw HandshakeError::connectionClosed();
  }
  if (inbound->record.kind != RecordKind::handshake || inbound->channel != Channel::reliable) {
    throw HandshakeError::unexpectedRecord();
  }
  const HandshakeBody body = splitHandshakeBody(inbound->record.body);
  if (body.type == HandshakeMessage::Failure::type) {
    std::string reason = "unknown";
    try {
      reason = HandshakeMessage::Failure::fromJson(body.json).reason;
    } catch (const HandshakeError&) {
      // An undecodable Failure still ends the handshake as the peer's.
    }
    throw HandshakeError::peerReported(std::move(reason));
  }
  if (body.type != M::type) {
    throw HandshakeError::unexpectedRecord();
  }
  M message = M::fromJson(body.json);
  co_return Received<M>{std::move(message), Bytes(body.json.begin(), body.json.end())};
}

template <class M>
asio::awaitable<Bytes> SessionHandshake::send(const M& message) {
  EncodedHandshake encoded = encodeHandshake(message);
  Bytes record = RecordFramer::encode(RecordKind::handshake, encoded.body);
  co_await transport_.send(std::move(record), Channel::reliable);
  co_return std::move(encoded.json);
}

asio::awaitable<SessionHandshake::Result> SessionHandshake::runHost() {
  Received<HandshakeMessage::Hello> hello = co_await expect<HandshakeMessage::Hello>();
  if (hello.message.v != GlidemateProtocol::version) {
    throw HandshakeError::incompatibleVersion(hello.message.v, GlidemateProtocol::version);
  }
  clientEphemeral_ = hello.message.ephemeral;
  hostEphemeral_ = Bytes(keyPair_.publicKey().begin(), keyPair_.publicKey().end());
  sharedSecret_ = keyPair_.sharedSecret(clientEphemeral_);
  peer_ = PeerInfo{hello.message.clientId, hello.message.clientName};

  const PeerInfo peer = peer_;
  const std::optional<std::string> refusal = co_await pairing_.refusal(peer);
  if (refusal) {
    throw HandshakeError::refused(*refusal);
  }
  const std::string peerId = peer_.id;
  std::optional<SymmetricKey> storedKey = co_await pairing_.longTermKey(peerId);
  std::optional<PairingCode> code;
  if (!storedKey || !hello.message.hasKey) {
    storedKey.reset();
    code = co_await pairing_.beginPairing(peer);
    if (!code) {
      throw HandshakeError::pairingRefused();
    }
  }

  const auto sessionId = static_cast<std::uint16_t>(SecureRandom::next64() & 0xFFFF);
  const HandshakeMessage::HelloAck helloAck{GlidemateProtocol::version, localInfo_.id, localInfo_.name,
                                            hostEphemeral_, Pairing::freshNonce(), !code.has_value()};
  const Bytes helloAckJson = co_await send(helloAck);
  transcript_ = Sha256::hash({hello.json, helloAckJson});

  if (!code) {
    const std::optional<PairingCode> noCode;
    co_return co_await confirmAsHost(std::move(storedKey), noCode, sessionId);
  }
  // The code goes back to the provider however the attempt ends, so that
  // it never stays reserved for a phone that is gone.
  std::optional<Result> result;
  std::exception_ptr failure;
  try {
    const std::optional<SymmetricKey> noKey;
    result.emplace(co_await confirmAsHost(noKey, code, sessionId));
  } catch (...) {
    failure = std::current_exception();
  }
  const PairingCode ended = *code;
  co_await pairing_.pairingAttemptEnded(ended);
  if (failure) {
    std::rethrow_exception(failure);
  }
  co_return std::move(*result);
}

asio::awaitable<SessionHandshake::Result> SessionHandshake::confirmAsHost(std::optional<SymmetricKey> storedKey,
                                                                          std::optional<PairingCode> code,
                                                                          std::uint16_t sessionId) {
  const PeerInfo peer = peer_;
  SymmetricKey longTermKey;
  if (code) {
    std::exception_ptr failure;
    try {
      co_await exchangePairingRounds(*code);
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      if (isMismatch(failure)) {
        co_await pairing_.pairingFailed(peer);
      }
      std::rethrow_exception(failure);
    }
    longTermKey = SessionKeys::deriveLongTermKey(sharedSecret_, transcript_);
  } else {
    longTermKey = *storedKey;
  }
  const SessionKeys keys = SessionKeys::derive(sharedSecret_, longTermKey, transcript_);

  const Received<HandshakeMessage::Auth> auth = co_await expect<HandshakeMessage::Auth>();
  const HmacSha256::Mac expected = confirmation(keys.clientConfirm, clientConfirmLabel, transcript_);
  if (!constantTimeEqual(auth.message.mac, expected)) {
    if (code) {
      co_await pairing_.pairingFailed(peer);
    }
    throw HandshakeError::authenticationFailed();
  }

  std::optional<std::uint16_t> udpPort;
  try {
    udpPort = co_await transport_.prepareDatagramChannel();
  } catch (const std::exception&) {
    // The session runs on the reliable channel alone.
  }
  // The handshake may have run for minutes while a person typed the code:
  // what the owner decided meanwhile (paused, turned the phone away, took
  // the code down) holds before the phone is let in.
  const std::optional<std::string> lateRefusal = co_await pairing_.refusal(peer);
  if (lateRefusal) {
    throw HandshakeError::refused(*lateRefusal);
  }
  if (code) {
    const PairingCode shown = *code;
    if (!co_await pairing_.pairingCodeIsActive(shown)) {
      throw HandshakeError::pairingRefused();
    }
  }
  const HmacSha256::Mac mac = confirmation(keys.hostConfirm, hostConfirmLabel, transcript_);
  const HandshakeMessage::AuthOK authOk{Bytes(mac.begin(), mac.end()), sessionId, udpPort};
  co_await send(authOk);

  if (code) {
    co_await pairing_.pairingSucceeded(longTermKey, peer);
  }
  co_return Result{peer, FrameCipher(keys, SessionRole::host), sessionId};
}

asio::awaitable<SessionHandshake::Result> SessionHandshake::runClient() {
  bool hasKey = false;
  if (expectedPeerId_) {
    const std::string expected = *expectedPeerId_;
    hasKey = (co_await pairing_.longTermKey(expected)).has_value();
  } else {
    hasKey = co_await pairing_.holdsAnyLongTermKey();
  }
  clientEphemeral_ = Bytes(keyPair_.publicKey().begin(), keyPair_.publicKey().end());
  const HandshakeMessage::Hello hello{GlidemateProtocol::version, localInfo_.id, localInfo_.name,
                                      clientEphemeral_, Pairing::freshNonce(), hasKey};
  const Bytes helloJson = co_await send(hello);

  const Received<HandshakeMessage::HelloAck> helloAck = co_await expect<HandshakeMessage::HelloAck>();
  if (helloAck.message.v != GlidemateProtocol::version) {
    throw HandshakeError::incompatibleVersion(helloAck.message.v, GlidemateProtocol::version);
  }
  hostEphemeral_ = helloAck.message.ephemeral;
  sharedSecret_ = keyPair_.sharedSecret(hostEphemeral_);
  transcript_ = Sha256::hash({helloJson, helloAck.json});
  peer_ = PeerInfo{helloAck.message.hostId, helloAck.message.hostName};
  const PeerInfo hostPeer = peer_;

  if (helloAck.message.paired) {
    const std::string hostId = hostPeer.id;
    std::optional<SymmetricKey> stored = co_await pairing_.longTermKey(hostId);
    if (!stored) {
      throw HandshakeError::notPaired();
    }
    co_return co_await confirmAsClient(std::move(*stored), false);
  }
  const std::optional<PairingCode> code = co_await pairing_.beginPairing(hostPeer);
  if (!code) {
    throw HandshakeError::pairingRefused();
  }
  // The phone reveals each round's nonce before it can check the host's, so
  // a false host learns bits of the code from every attempt, whether it
  // then reports a mismatch, reveals a wrong nonce or hangs up. The provider
  // hears of every failed attempt, so that the code is not offered again.
  std::optional<Result> result;
  std::exception_ptr failure;
  try {
    co_await exchangePairingRounds(*code);
    SymmetricKey longTermKey = SessionKeys::deriveLongTermKey(sharedSecret_, transcript_);
    result.emplace(co_await confirmAsClient(std::move(longTermKey), true));
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    co_await pairing_.pairingFailed(hostPeer);
    std::rethrow_exception(failure);
  }
  co_return std::move(*result);
}

asio::awaitable<SessionHandshake::Result> SessionHandshake::confirmAsClient(SymmetricKey longTermKey, bool pairing) {
  const PeerInfo hostPeer = peer_;
  const SessionKeys keys = SessionKeys::derive(sharedSecret_, longTermKey, transcript_);

  const HmacSha256::Mac mac = confirmation(keys.clientConfirm, clientConfirmLabel, transcript_);
  const HandshakeMessage::Auth auth{Bytes(mac.begin(), mac.end())};
  co_await send(auth);

  const Received<HandshakeMessage::AuthOK> authOk = co_await expect<HandshakeMessage::AuthOK>();
  const HmacSha256::Mac expected = confirmation(keys.hostConfirm, hostConfirmLabel, transcript_);
  if (!constantTimeEqual(authOk.message.mac, expected)) {
    throw HandshakeError::authenticationFailed();
  }
  if (pairing) {
    co_await pairing_.pairingSucceeded(longTermKey, hostPeer);
  }
  if (authOk.message.udpPort) {
    try {
      co_await transport_.connectDatagramChannel(*authOk.message.udpPort);
    } catch (const std::exception&) {
      // The session runs on the reliable channel alone.
    }
  }
  co_return Result{hostPeer, FrameCipher(keys, SessionRole::client), authOk.message.sessionId};
}

asio::awaitable<void> SessionHandshake::exchangePairingRounds(PairingCode code) {
  const bool isClient = role_ == SessionRole::client;
  const Pairing::Side ownSide = isClient ? Pairing::Side::client : Pairing::Side::host;
  const Pairing::Side peerSide = isClient ? Pairing::Side::host : Pairing::Side::client;
  for (int round = 0; round < PairingCode::bitCount; ++round) {
    const std::uint8_t bit = code.bit(round);
    const Bytes nonce = Pairing::freshNonce();
    const Sha256::Digest ownCommitment =
        Pairing::commitment(ownSide, nonce, bit, clientEphemeral_, hostEphemeral_);
    const HandshakeMessage::PairCommit commit{round, Bytes(ownCommitment.begin(), ownCommitment.end())};
    const HandshakeMessage::PairReveal reveal{round, nonce};

    // The phone commits first; the host answers with its own commitment
    // only after it holds the phone's, so neither can choose its bit after
    // seeing the other's.
    if (isClient) {
      co_await send(commit);
    }
    const Received<HandshakeMessage::PairCommit> peerCommit = co_await expect<HandshakeMessage::PairCommit>();
    if (peerCommit.message.round != round) {
      throw HandshakeError::unexpectedRecord();
    }
    if (isClient) {
      co_await send(reveal);
    } else {
      co_await send(commit);
    }
    const Received<HandshakeMessage::PairReveal> peerReveal = co_await expect<HandshakeMessage::PairReveal>();
    if (peerReveal.message.round != round) {
      throw HandshakeError::unexpectedRecord();
    }

    // A peer that echoes our own commitment or nonce back is reflecting,
    // not proving that it knows the bit.
    const ByteView peerCommitment = peerCommit.message.commitment;
    if (constantTimeEqual(peerCommitment, ownCommitment) || constantTimeEqual(peerReveal.message.nonce, nonce) ||
        !Pairing::verify(peerCommitment, peerSide, peerReveal.message.nonce, bit, clientEphemeral_,
                         hostEphemeral_)) {
      throw HandshakeError::pairingCodeMismatch();
    }
    // The host reveals only once the phone's reveal has verified, so a
    // phone guessing the code learns nothing from a failed round.
    if (!isClient) {
      co_await send(reveal);
    }
  }
}

}  // namespace glidemate
