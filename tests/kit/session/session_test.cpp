// The header under test comes first: it brings in Asio, whose allocator
// choice must match the separately compiled Asio.
#include "kit/session/session.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/session/crypto_library_error.hpp"
#include "kit/session/frame_header.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/handshake_message.hpp"
#include "kit/session/x25519_key_pair.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/transport/in_memory_transport.hpp"
#include "kit/wire/codec_error.hpp"
#include "kit/wire/message_codec.hpp"
#include "kit/wire/record_framer.hpp"
#include "tests/kit/session/fake_pairing_provider.hpp"
#include "tests/kit/session/tapped_transport.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using testing::FakePairingProvider;
using testing::TappedTransport;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct HandshakeOutcome {
  bool done = false;
  std::optional<PeerInfo> peer;
  std::exception_ptr error;
};

struct Received {
  std::vector<Message> messages;
  bool finished = false;
};

asio::awaitable<void> runHandshake(std::shared_ptr<Session> session, HandshakeOutcome* outcome) {
  try {
    outcome->peer = co_await session->performHandshake();
  } catch (...) {
    outcome->error = std::current_exception();
  }
  outcome->done = true;
}

asio::awaitable<void> collect(AsyncStream<Message> stream, Received* into) {
  while (auto message = co_await stream.next()) {
    into->messages.push_back(std::move(*message));
  }
  into->finished = true;
}

asio::awaitable<void> sendAll(std::shared_ptr<Session> session, std::vector<Message> messages, Channel channel) {
  for (const Message& message : messages) {
    const Message copy = message;
    co_await session->send(copy, channel);
  }
}

std::optional<HandshakeError> handshakeError(const std::exception_ptr& error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const HandshakeError& e) {
    return e;
  } catch (...) {
  }
  return std::nullopt;
}

bool isCryptoLibraryError(const std::exception_ptr& error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const CryptoLibraryError&) {
    return true;
  } catch (...) {
  }
  return false;
}

}  // namespace

// Readable failures: a message by its encoding, an error by its text.
void PrintTo(const Message& message, std::ostream* os) {
  *os << "Message(";
  for (const auto b : MessageCodec::encode(message)) *os << ' ' << static_cast<int>(b);
  *os << " )";
}
void PrintTo(const HandshakeError& error, std::ostream* os) { *os << "HandshakeError(" << error.what() << ")"; }

namespace {

Message pointer(float dx) { return Message::PointerMove{dx, 0}; }
Message text(std::string value) { return Message::Text{std::move(value)}; }

std::vector<Message> pointers(int from, int to) {
  std::vector<Message> out;
  for (int i = from; i < to; ++i) out.push_back(pointer(static_cast<float>(i)));
  return out;
}

SymmetricKey keyOf(std::uint8_t fill) { return SymmetricKey(Bytes(32, fill)); }

bool isEncrypted(const Bytes& record) { return record.size() > 2 && record[2] == 1; }

FrameHeader headerOf(const Bytes& record) { return FrameHeader::decode(ByteView(record).subspan(3)); }

// A phone (client) and a host session over an in-memory pair, each
// transport tapped so that tests can steer what the phone sends.
class SessionTest : public ::testing::Test {
 protected:
  void makeSessions(bool datagrams = true, Session::Duration timeout = Session::defaultHandshakeTimeout,
                    std::optional<std::string> expectedHost = std::string("host-1")) {
    auto ends = InMemoryTransport::makePair(io.get_executor(), {TransportKind::lan, datagrams});
    phoneEnd = ends.first;
    hostEnd = ends.second;
    phoneTap = TappedTransport::wrap(io.get_executor(), phoneEnd);
    hostTap = TappedTransport::wrap(io.get_executor(), hostEnd);
    phone = Session::make(io.get_executor(), phoneTap, Session::Role::client, phoneInfo, phoneProvider,
                          std::move(expectedHost), timeout);
    host = Session::make(io.get_executor(), hostTap, Session::Role::host, hostInfo, hostProvider, std::nullopt,
                         timeout, hostFirstRecordTimeout);
  }

  void shareKey() {
    phoneProvider->keys.emplace("host-1", keyOf(0x42));
    hostProvider->keys.emplace("phone-1", keyOf(0x42));
  }

  void handshake() {
    asio::co_spawn(io, runHandshake(phone, &phoneOutcome), asio::detached);
    asio::co_spawn(io, runHandshake(host, &hostOutcome), asio::detached);
    ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return phoneOutcome.done && hostOutcome.done; }));
  }

  // Authenticated with a shared key, the host reading its messages.
  void establish(bool datagrams = true) {
    shareKey();
    makeSessions(datagrams);
    handshake();
    ASSERT_TRUE(phoneOutcome.peer && hostOutcome.peer);
    asio::co_spawn(io, collect(host->messages(), &atHost), asio::detached);
  }

  void send(std::vector<Message> messages, Channel channel) {
    glidemate::testing::runAwaitable(io, sendAll(phone, std::move(messages), channel));
  }

  void waitForHost(std::size_t count) {
    ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return atHost.messages.size() >= count || atHost.finished; }));
  }

  // Runs every handler that is ready, so that everything sent so far has
  // been taken in.
  void settle() {
    while (io.poll() > 0) {
    }
    io.restart();
  }

  const PeerInfo phoneInfo{"phone-1", "Phone"};
  const PeerInfo hostInfo{"host-1", "Desk"};
  asio::io_context io;
  std::shared_ptr<FakePairingProvider> phoneProvider = std::make_shared<FakePairingProvider>();
  std::shared_ptr<FakePairingProvider> hostProvider = std::make_shared<FakePairingProvider>();
  std::shared_ptr<InMemoryTransport> phoneEnd;
  std::shared_ptr<InMemoryTransport> hostEnd;
  std::shared_ptr<TappedTransport> phoneTap;
  std::shared_ptr<TappedTransport> hostTap;
  std::shared_ptr<Session> phone;
  std::shared_ptr<Session> host;
  HandshakeOutcome phoneOutcome;
  HandshakeOutcome hostOutcome;
  Received atHost;
  std::optional<Session::Duration> hostFirstRecordTimeout;
};

// --- Handshakes that succeed -------------------------------------------------

TEST_F(SessionTest, StoredKeysAuthenticateAndMessagesTravelBothWays) {
  establish();
  EXPECT_EQ(phoneOutcome.peer, hostInfo);
  EXPECT_EQ(hostOutcome.peer, phoneInfo);
  EXPECT_TRUE(phone->isEstablished() && host->isEstablished());
  EXPECT_EQ(phone->sessionId(), host->sessionId());
  EXPECT_THAT(phoneProvider->calls, IsEmpty());
  EXPECT_THAT(hostProvider->calls, IsEmpty());

  send({pointer(1), text("hi")}, Channel::reliable);
  send({pointer(2)}, Channel::unreliable);
  waitForHost(3);
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(1), text("hi"), pointer(2)));

  Received atPhone;
  asio::co_spawn(io, collect(phone->messages(), &atPhone), asio::detached);
  glidemate::testing::runAwaitable(io, sendAll(host, {text("back"), pointer(3)}, Channel::reliable));
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return atPhone.messages.size() == 2; }));
  EXPECT_THAT(atPhone.messages, ElementsAre(text("back"), pointer(3)));
}

TEST_F(SessionTest, MatchingCodesPairAndTheNewKeyAuthenticatesLater) {
  hostProvider->code = PairingCode::fromValue(123456);
  phoneProvider->code = PairingCode::fromValue(123456);
  makeSessions();
  handshake();
  ASSERT_EQ(phoneOutcome.peer, hostInfo);
  ASSERT_EQ(hostOutcome.peer, phoneInfo);
  ASSERT_TRUE(phoneProvider->pairedKey && hostProvider->pairedKey);
  EXPECT_TRUE(*phoneProvider->pairedKey == *hostProvider->pairedKey);
  EXPECT_THAT(hostProvider->calls,
              ElementsAre("beginPairing phone-1", "pairingSucceeded phone-1", "pairingAttemptEnded 123456"));
  EXPECT_THAT(phoneProvider->calls, ElementsAre("beginPairing host-1", "pairingSucceeded host-1"));

  // The stored key is the one both ends derived: the next connection
  // authenticates without a code.
  hostProvider->calls.clear();
  phoneOutcome = {};
  hostOutcome = {};
  makeSessions();
  handshake();
  EXPECT_EQ(phoneOutcome.peer, hostInfo);
  EXPECT_EQ(hostOutcome.peer, phoneInfo);
  EXPECT_THAT(hostProvider->calls, IsEmpty());
}

TEST_F(SessionTest, APhoneWithoutAKeyIsPairedEvenWhenTheHostHoldsOne) {
  hostProvider->keys.emplace("phone-1", keyOf(0x42));
  hostProvider->code = PairingCode::fromValue(7);
  phoneProvider->code = PairingCode::fromValue(7);
  makeSessions(true, Session::defaultHandshakeTimeout, std::nullopt);
  handshake();
  EXPECT_EQ(hostOutcome.peer, phoneInfo);
  EXPECT_THAT(hostProvider->calls,
              ElementsAre("beginPairing phone-1", "pairingSucceeded phone-1", "pairingAttemptEnded 000007"));
  EXPECT_FALSE(*hostProvider->pairedKey == keyOf(0x42));
}

// --- Handshakes that fail between two sessions -------------------------------

struct FailureCase {
  std::string name;
  std::function<void(FakePairingProvider& phone, FakePairingProvider& host)> setUp;
  std::optional<std::string> expectedHost;
  HandshakeError hostError;
  HandshakeError phoneError;
  std::vector<std::string> hostCalls;
  std::vector<std::string> phoneCalls;
};

TEST_F(SessionTest, EachFailureEndsBothSidesWithTheMatchingErrorAndReason) {
  const std::vector<std::string> phonePairingFailed{"beginPairing host-1", "pairingFailed host-1"};
  const std::vector<FailureCase> cases{
      {"a code that differs in bit 0",
       [](auto& p, auto& h) {
         h.code = PairingCode::fromValue(123456);
         p.code = PairingCode::fromValue(123457);
       },
       "host-1", HandshakeError::pairingCodeMismatch(), HandshakeError::peerReported("pairing code did not match"),
       {"beginPairing phone-1", "pairingFailed phone-1", "pairingAttemptEnded 123456"}, phonePairingFailed},
      {"a code that differs only in bit 19",
       [](auto& p, auto& h) {
         h.code = PairingCode::fromValue(999999);
         p.code = PairingCode::fromValue(999999 - (1 << 19));
       },
       "host-1", HandshakeError::pairingCodeMismatch(), HandshakeError::peerReported("pairing code did not match"),
       {"beginPairing phone-1", "pairingFailed phone-1", "pairingAttemptEnded 999999"}, phonePairingFailed},
      {"the host refuses the phone", [](auto&, auto& h) { h.refusalText = "The host is paused"; }, "host-1",
       HandshakeError::refused("The host is paused"), HandshakeError::peerReported("The host is paused"), {}, {}},
      {"the host is paused while the phone pairs",
       [](auto& p, auto& h) {
         h.code = PairingCode::fromValue(123456);
         p.code = PairingCode::fromValue(123456);
         h.lateRefusalText = "The host is paused";
       },
       "host-1", HandshakeError::refused("The host is paused"), HandshakeError::peerReported("The host is paused"),
       {"beginPairing phone-1", "pairingAttemptEnded 123456"}, phonePairingFailed},
      {"the code is taken down while the phone pairs",
       [](auto& p, auto& h) {
         h.code = PairingCode::fromValue(123456);
         p.code = PairingCode::fromValue(123456);
         h.codeActive = false;
       },
       "host-1", HandshakeError::pairingRefused(), HandshakeError::peerReported("pairing refused"),
       {"beginPairing phone-1", "pairingAttemptEnded 123456"}, phonePairingFailed},
      {"a paired phone is turned away while it authenticates",
       [](auto& p, auto& h) {
         p.keys.emplace("host-1", keyOf(1));
         h.keys.emplace("phone-1", keyOf(1));
         h.lateRefusalText = "Turned away";
       },
       "host-1", HandshakeError::refused("Turned away"), HandshakeError::peerReported("Turned away"), {}, {}},
      {"the host has no code to show", [](auto&, auto&) {}, "host-1", HandshakeError::pairingRefused(),
       HandshakeError::peerReported("pairing refused"), {"beginPairing phone-1"}, {}},
      {"the user typed no code", [](auto&, auto& h) { h.code = PairingCode::fromValue(1); }, "host-1",
       HandshakeError::peerReported("pairing refused"), HandshakeError::pairingRefused(),
       {"beginPairing phone-1", "pairingAttemptEnded 000001"}, {"beginPairing host-1"}},
      {"the stored keys differ",
       [](auto& p, auto& h) {
         p.keys.emplace("host-1", keyOf(1));
         h.keys.emplace("phone-1", keyOf(2));
       },
       "host-1", HandshakeError::authenticationFailed(), HandshakeError::peerReported("authentication failed"), {},
       {}},
      {"the phone claims a key it does not hold for this host",
       [](auto& p, auto& h) {
         p.holdsAny = true;
         h.keys.emplace("phone-1", keyOf(2));
       },
       std::nullopt, HandshakeError::peerReported("not paired"), HandshakeError::notPaired(), {}, {}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    phoneProvider = std::make_shared<FakePairingProvider>();
    hostProvider = std::make_shared<FakePairingProvider>();
    c.setUp(*phoneProvider, *hostProvider);
    phoneOutcome = {};
    hostOutcome = {};
    makeSessions(true, Session::defaultHandshakeTimeout, c.expectedHost);
    handshake();
    EXPECT_EQ(handshakeError(hostOutcome.error), c.hostError);
    EXPECT_EQ(handshakeError(phoneOutcome.error), c.phoneError);
    EXPECT_EQ(hostProvider->calls, c.hostCalls);
    EXPECT_EQ(phoneProvider->calls, c.phoneCalls);
    EXPECT_FALSE(host->isEstablished() || phone->isEstablished());
  }
}

TEST_F(SessionTest, AForgedHostConfirmationFailsThePairingOnThePhone) {
  hostProvider->code = PairingCode::fromValue(123456);
  phoneProvider->code = PairingCode::fromValue(123456);
  makeSessions();
  // The MAC inside the host's AuthOK, spoilt on its way.
  hostTap->filter = [](TappedTransport::Outgoing out) {
    if (out.bytes.size() > 3 && out.bytes[3] == HandshakeMessage::AuthOK::type) {
      auto authOk = HandshakeMessage::AuthOK::fromJson(ByteView(out.bytes).subspan(4));
      authOk.mac[0] ^= 0x01;
      out.bytes = RecordFramer::encode(RecordKind::handshake, encodeHandshake(authOk).body);
    }
    return std::vector{std::move(out)};
  };
  handshake();
  EXPECT_EQ(handshakeError(phoneOutcome.error), HandshakeError::authenticationFailed());
  EXPECT_THAT(phoneProvider->calls, ElementsAre("beginPairing host-1", "pairingFailed host-1"));
  EXPECT_FALSE(phoneProvider->pairedKey);
}

// --- A host facing a phone that misbehaves -----------------------------------

// The phone's end of the host's transport, played by the test: what it
// receives is collected as records until the transport closes.
struct RawPeer {
  std::vector<Record> records;
  bool closed = false;
};

asio::awaitable<void> readRecords(std::shared_ptr<Transport> end, RawPeer* into) {
  RecordFramer framer;
  while (auto event = co_await end->events().next()) {
    if (const auto* data = std::get_if<TransportEvent::Data>(&event->value)) {
      framer.append(data->bytes);
      while (auto record = framer.next()) into->records.push_back(std::move(*record));
    }
  }
  into->closed = true;
}

template <class M>
Bytes handshakeRecord(const M& message) {
  return RecordFramer::encode(RecordKind::handshake, encodeHandshake(message).body);
}

Bytes helloRecord(std::int64_t version, Bytes ephemeral) {
  return handshakeRecord(
      HandshakeMessage::Hello{version, "phone-1", "Phone", std::move(ephemeral), Bytes(16, 1), false});
}

Bytes freshPublicKey() {
  const auto pair = X25519KeyPair::generate();
  return Bytes(pair.publicKey().begin(), pair.publicKey().end());
}

std::optional<std::string> failureText(const std::vector<Record>& records) {
  if (records.empty() || records.back().body.empty() || records.back().body[0] != HandshakeMessage::Failure::type) {
    return std::nullopt;
  }
  return HandshakeMessage::Failure::fromJson(ByteView(records.back().body).subspan(1)).reason;
}

struct RawCase {
  std::string name;
  std::vector<std::pair<Bytes, Channel>> sends;
  std::optional<HandshakeError> error;  // none: the crypto library's error
  std::optional<std::string> failure;   // the Failure the phone gets, if any
};

TEST_F(SessionTest, BadInputFromThePhoneEndsTheHandshakeWithTheMatchingFailure) {
  using R = Channel;
  const std::vector<RawCase> cases{
      {"an unknown record kind", {{{0x01, 0x00, 0x07}, R::reliable}}, HandshakeError::connectionClosed(),
       "handshake failed"},
      {"a zero-length record", {{{0x00, 0x00}, R::reliable}}, HandshakeError::connectionClosed(),
       "handshake failed"},
      {"an empty handshake body", {{RecordFramer::encode(RecordKind::handshake, Bytes{}), R::reliable}},
       HandshakeError::unexpectedRecord(), "handshake failed"},
      {"a handshake type out of range", {{RecordFramer::encode(RecordKind::handshake, Bytes{9, '{', '}'}), R::reliable}},
       HandshakeError::unexpectedRecord(), "handshake failed"},
      {"an encrypted record", {{RecordFramer::encode(RecordKind::encrypted, Bytes(28, 0)), R::reliable}},
       HandshakeError::unexpectedRecord(), "handshake failed"},
      {"Auth before Hello", {{handshakeRecord(HandshakeMessage::Auth{Bytes(32, 0)}), R::reliable}},
       HandshakeError::unexpectedRecord(), "handshake failed"},
      {"a Hello that is not JSON", {{RecordFramer::encode(RecordKind::handshake, Bytes{1, 'n', 'o'}), R::reliable}},
       HandshakeError::decodingFailed(), "handshake failed"},
      {"a Hello of version 2", {{helloRecord(2, freshPublicKey()), R::reliable}},
       HandshakeError::incompatibleVersion(2, 1), "protocol version mismatch"},
      {"a Hello with a 31-byte key", {{helloRecord(1, Bytes(31, 9)), R::reliable}}, std::nullopt,
       "handshake failed"},
      {"a Hello with a small-order key", {{helloRecord(1, Bytes(32, 0)), R::reliable}}, std::nullopt,
       "handshake failed"},
      {"a Hello on the datagram channel", {{helloRecord(1, freshPublicKey()), R::unreliable}},
       HandshakeError::unexpectedRecord(), "handshake failed"},
      {"Auth where the first commitment belongs",
       {{helloRecord(1, freshPublicKey()), R::reliable},
        {handshakeRecord(HandshakeMessage::Auth{Bytes(32, 0)}), R::reliable}},
       HandshakeError::unexpectedRecord(), "handshake failed"},
      {"a commitment for the wrong round",
       {{helloRecord(1, freshPublicKey()), R::reliable},
        {handshakeRecord(HandshakeMessage::PairCommit{1, Bytes(32, 0)}), R::reliable}},
       HandshakeError::unexpectedRecord(), "handshake failed"},
      {"a Failure that does not decode", {{RecordFramer::encode(RecordKind::handshake, Bytes{7, 'x'}), R::reliable}},
       HandshakeError::peerReported("unknown"), std::nullopt},
      {"a Failure", {{handshakeRecord(HandshakeMessage::Failure{"busy"}), R::reliable}},
       HandshakeError::peerReported("busy"), std::nullopt},
  };
  for (const RawCase& c : cases) {
    SCOPED_TRACE(c.name);
    hostProvider = std::make_shared<FakePairingProvider>();
    hostProvider->code = PairingCode::fromValue(123456);
    hostOutcome = {};
    auto ends = InMemoryTransport::makePair(io.get_executor(), {TransportKind::lan, true});
    auto rawPhone = ends.first;
    host = Session::make(io.get_executor(), ends.second, Session::Role::host, hostInfo, hostProvider);
    RawPeer peer;
    rawPhone->start();
    asio::co_spawn(io, readRecords(rawPhone, &peer), asio::detached);
    asio::co_spawn(io, runHandshake(host, &hostOutcome), asio::detached);
    for (const auto& [bytes, channel] : c.sends) {
      glidemate::testing::runAwaitable(io, rawPhone->send(bytes, channel));
    }
    ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return hostOutcome.done; }));
    if (c.error) {
      EXPECT_EQ(handshakeError(hostOutcome.error), c.error);
    } else {
      EXPECT_TRUE(isCryptoLibraryError(hostOutcome.error));
    }
    // Closing releases the transport; the phone then has everything the
    // host sent.
    host->close();
    ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return peer.closed; }));
    EXPECT_EQ(failureText(peer.records), c.failure);
    const auto begun = std::count(hostProvider->calls.begin(), hostProvider->calls.end(), "beginPairing phone-1");
    const auto ended =
        std::count(hostProvider->calls.begin(), hostProvider->calls.end(), "pairingAttemptEnded 123456");
    EXPECT_EQ(begun, ended);
  }
}

TEST_F(SessionTest, AStalledHandshakeTimesOutClosesTheSessionAndFailsWithConnectionClosed) {
  // A host whose phone says nothing, and a phone whose host says nothing.
  for (const auto role : {Session::Role::host, Session::Role::client}) {
    auto ends = InMemoryTransport::makePair(io.get_executor(), {TransportKind::lan, false});
    auto silent = ends.first;
    auto session = Session::make(io.get_executor(), ends.second, role, hostInfo, hostProvider, std::nullopt,
                                 std::chrono::milliseconds(20));
    RawPeer peer;
    silent->start();
    asio::co_spawn(io, readRecords(silent, &peer), asio::detached);
    HandshakeOutcome outcome;
    asio::co_spawn(io, runHandshake(session, &outcome), asio::detached);
    ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return outcome.done && peer.closed; }));
    EXPECT_EQ(handshakeError(outcome.error), HandshakeError::connectionClosed());
    EXPECT_TRUE(session->isClosed());
    EXPECT_FALSE(failureText(peer.records));
  }
}

// Only the first record has a short deadline: a connection that says nothing
// is closed at it, while a phone that said hello and then takes longer than
// that to type the code still pairs.
TEST_F(SessionTest, OnlyAPeerThatSaysNothingIsClosedAtTheFirstRecordTimeout) {
  const auto firstRecordTimeout = std::chrono::milliseconds(20);
  hostProvider->code = PairingCode::fromValue(123456);
  phoneProvider->code = PairingCode::fromValue(123456);
  hostFirstRecordTimeout = firstRecordTimeout;
  makeSessions();

  // While the phone's user reads the code, a second connection to a host
  // with the same deadline, begun after the phone's, says nothing; the
  // user types once it has been closed, so the phone's own deadline has
  // passed too.
  auto quiet = InMemoryTransport::makePair(io.get_executor(), {TransportKind::lan, false});
  auto silentHost = Session::make(io.get_executor(), quiet.second, Session::Role::host, hostInfo,
                                  std::make_shared<FakePairingProvider>(), std::nullopt,
                                  Session::defaultHandshakeTimeout, firstRecordTimeout);
  HandshakeOutcome silentOutcome;
  Notifier silentEnded(io.get_executor());
  phoneProvider->whileTyping = [&]() -> asio::awaitable<void> {
    quiet.first->start();
    asio::co_spawn(io, [](std::shared_ptr<Session> s, HandshakeOutcome* o, Notifier* ended) -> asio::awaitable<void> {
      co_await runHandshake(s, o);
      ended->notifyAll();
    }(silentHost, &silentOutcome, &silentEnded), asio::detached);
    while (!silentOutcome.done) co_await silentEnded.wait();
  };
  handshake();
  EXPECT_EQ(handshakeError(silentOutcome.error), HandshakeError::connectionClosed());
  EXPECT_TRUE(silentHost->isClosed());
  EXPECT_EQ(phoneOutcome.peer, hostInfo);
  EXPECT_EQ(hostOutcome.peer, phoneInfo);
}

// --- After establishment ------------------------------------------------------

TEST_F(SessionTest, AGapInTheReliableSequenceEndsTheStreamAfterWhatCameBefore) {
  establish();
  int encrypted = 0;
  phoneTap->filter = [&](TappedTransport::Outgoing out) {
    if (isEncrypted(out.bytes) && encrypted++ == 2) return std::vector<TappedTransport::Outgoing>{};
    return std::vector{std::move(out)};
  };
  send(pointers(0, 4), Channel::reliable);
  waitForHost(4);
  EXPECT_TRUE(atHost.finished);
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(0), pointer(1)));
}

TEST_F(SessionTest, ReplayedAndReorderedDatagramsArriveOnceEach) {
  establish();
  std::vector<Bytes> held;
  phoneTap->filter = [&](TappedTransport::Outgoing out) {
    if (out.channel == Channel::unreliable) {
      held.push_back(std::move(out.bytes));
      return std::vector<TappedTransport::Outgoing>{};
    }
    return std::vector{std::move(out)};
  };
  send(pointers(0, 6), Channel::unreliable);
  ASSERT_EQ(held.size(), 6U);
  for (const int i : {5, 5, 4}) {
    glidemate::testing::runAwaitable(io, phoneEnd->send(held[static_cast<std::size_t>(i)], Channel::unreliable));
  }
  send({text("end")}, Channel::reliable);
  waitForHost(3);
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(5), pointer(4), text("end")));
}

TEST_F(SessionTest, FramesOnTheWrongChannelOrThatFailToOpenOrDecodeAreDroppedOneByOne) {
  establish();
  int unreliableSeen = 0;
  phoneTap->filter = [&](TappedTransport::Outgoing out) {
    if (out.channel == Channel::unreliable) {
      ++unreliableSeen;
      if (unreliableSeen == 1) out.channel = Channel::reliable;  // a datagram frame on the stream
      if (unreliableSeen == 2) out.bytes.back() ^= 0x01;          // a spoilt tag
      if (unreliableSeen == 3) out.bytes[3] = 2;                  // an unknown frame version
    }
    return std::vector{std::move(out)};
  };
  send(pointers(1, 5), Channel::unreliable);
  // A datagram that is no record, and a reliable frame whose message does
  // not decode.
  phoneTap->filter = nullptr;
  glidemate::testing::runAwaitable(io, phoneEnd->send(Bytes{0x00, 0x00}, Channel::unreliable));
  send({text("\xff"), text("still here")}, Channel::reliable);
  waitForHost(2);
  settle();
  EXPECT_FALSE(atHost.finished);
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(4), text("still here")));
}

TEST_F(SessionTest, WithoutADatagramChannelUnreliableSendsAreReliableFrames) {
  establish(false);
  send({pointer(1)}, Channel::unreliable);
  send({pointer(2)}, Channel::reliable);
  waitForHost(2);
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(1), pointer(2)));
  std::vector<FrameHeader> frames;
  for (const auto& out : phoneTap->sent) {
    if (isEncrypted(out.bytes)) {
      EXPECT_EQ(out.channel, Channel::reliable);
      frames.push_back(headerOf(out.bytes));
    }
  }
  const std::uint16_t id = phone->sessionId();
  EXPECT_THAT(frames, ElementsAre(FrameHeader(false, id, 0), FrameHeader(false, id, 1)));
}

TEST_F(SessionTest, WithADatagramChannelEachChannelCountsItsOwnSequence) {
  establish(true);
  send({pointer(1)}, Channel::reliable);
  send({pointer(2), pointer(3)}, Channel::unreliable);
  waitForHost(3);
  std::vector<std::pair<Channel, FrameHeader>> frames;
  for (const auto& out : phoneTap->sent) {
    if (isEncrypted(out.bytes)) frames.emplace_back(out.channel, headerOf(out.bytes));
  }
  const std::uint16_t id = phone->sessionId();
  EXPECT_THAT(frames, ElementsAre(std::pair(Channel::reliable, FrameHeader(false, id, 0)),
                                  std::pair(Channel::unreliable, FrameHeader(true, id, 0)),
                                  std::pair(Channel::unreliable, FrameHeader(true, id, 1))));
}

TEST_F(SessionTest, SendingAndReadingNeedAnEstablishedSession) {
  makeSessions();
  const Message move = pointer(1);
  EXPECT_EQ(handshakeError([&] {
              try {
                glidemate::testing::runAwaitable(io, phone->send(move));
              } catch (...) {
                return std::current_exception();
              }
              return std::exception_ptr();
            }()),
            HandshakeError::connectionClosed());
  try {
    (void)phone->messages();
    ADD_FAILURE() << "messages() before the handshake";
  } catch (const HandshakeError& e) {
    EXPECT_EQ(e, HandshakeError::connectionClosed());
  }
}

TEST_F(SessionTest, AMessageTooLargeForARecordIsRefusedWithoutBreakingTheSequence) {
  establish();
  const Message huge = text(std::string(70000, 'a'));
  try {
    glidemate::testing::runAwaitable(io, phone->send(huge));
    ADD_FAILURE() << "a 70000-byte text was sent";
  } catch (const CodecError& e) {
    EXPECT_TRUE(std::holds_alternative<CodecError::RecordTooLarge>(e.which()));
  }
  send({pointer(1)}, Channel::reliable);
  waitForHost(1);
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(1)));
  EXPECT_FALSE(atHost.finished);
}

TEST_F(SessionTest, ABrokenStreamEndsTheMessagesButStillDeliversWhatCameBefore) {
  establish();
  send({pointer(1)}, Channel::reliable);
  glidemate::testing::runAwaitable(io, phoneEnd->send(Bytes{0x00, 0x00}, Channel::reliable));
  waitForHost(2);
  EXPECT_TRUE(atHost.finished);
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(1)));
}

TEST_F(SessionTest, ClosingEitherSideEndsBothStreams) {
  establish();
  Received atPhone;
  asio::co_spawn(io, collect(phone->messages(), &atPhone), asio::detached);
  send({pointer(1)}, Channel::reliable);
  waitForHost(1);
  host->close();
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return atHost.finished && atPhone.finished; }));
  EXPECT_THAT(atHost.messages, ElementsAre(pointer(1)));
  EXPECT_TRUE(host->isClosed());
}

TEST_F(SessionTest, AReaderThatFallsBehindDoesNotLetMemoryGrow) {
  shareKey();
  makeSessions();
  handshake();
  Received lateReader;
  auto stream = host->messages();
  // A flood of pointer moves with the reader idle, the host taking them
  // in as they come, then a few reliable messages.
  for (int batch = 0; batch < 40; ++batch) {
    send(pointers(batch * 100, batch * 100 + 100), Channel::unreliable);
    settle();
  }
  send({text("a"), text("b")}, Channel::reliable);
  settle();
  asio::co_spawn(io, collect(std::move(stream), &lateReader), asio::detached);
  ASSERT_TRUE(glidemate::testing::runUntil(
      io, [&] { return !lateReader.messages.empty() && lateReader.messages.back() == text("b"); }));
  EXPECT_LE(lateReader.messages.size(), SessionInbox::capacity + Session::messageLookahead + 1);
  EXPECT_EQ(std::count(lateReader.messages.begin(), lateReader.messages.end(), text("a")), 1);
  // The newest pointer moves survived; the oldest were shed.
  EXPECT_EQ(lateReader.messages[lateReader.messages.size() - 3], pointer(3999));
}

// --- The inbox's cap ----------------------------------------------------------

TEST(SessionInbox, HoldsAtMost256AndShedsTheOldestDatagramsFirst) {
  asio::io_context io;
  auto record = [](int i) { return Record{RecordKind::encrypted, Bytes{static_cast<std::uint8_t>(i)}}; };
  SessionInbox mixed(io.get_executor());
  for (int i = 0; i < 150; ++i) mixed.deliver({record(i), Channel::unreliable});
  for (int i = 150; i < 300; ++i) mixed.deliver({record(i), Channel::reliable});
  ASSERT_EQ(mixed.size(), 256U);
  EXPECT_EQ(mixed.pending().front(), (SessionInbound{record(44), Channel::unreliable}));
  EXPECT_EQ(std::count_if(mixed.pending().begin(), mixed.pending().end(),
                          [](const auto& i) { return i.channel == Channel::reliable; }),
            150);

  SessionInbox reliableOnly(io.get_executor());
  for (int i = 0; i < 300; ++i) reliableOnly.deliver({record(i), Channel::reliable});
  ASSERT_EQ(reliableOnly.size(), 256U);
  EXPECT_EQ(reliableOnly.pending().front().record, record(44));
  EXPECT_EQ(reliableOnly.pending().back().record, record(299));
}

}  // namespace
}  // namespace glidemate
