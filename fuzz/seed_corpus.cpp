// Writes the fuzz targets' seed corpora: well-formed inputs of every kind
// the tests use, and for the session target handshakes recorded against
// the very host it fuzzes (each end on its own thread with its own
// repeatable random stream, so the host replays them identically).
//
//   glidemate-fuzz-seeds DIR    (the repository's fuzz/corpus)
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/local/connect_pair.hpp>
#include <asio/local/stream_protocol.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/chunks.hpp"
#include "fuzz/deterministic_random.hpp"
#include "fuzz/fuzz_session.hpp"
#include "kit/session/handshake_message.hpp"
#include "kit/session/keychain_store.hpp"
#include "kit/session/pairing.hpp"
#include "kit/transport/stream_transport.hpp"
#include "kit/wire/message_codec.hpp"
#include "kit/wire/record_framer.hpp"
#include "tests/kit/session/tapped_transport.hpp"

using namespace glidemate;
namespace fs = std::filesystem;

namespace {

fs::path root;

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(root / target);
  std::ofstream out(root / target / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes prefixed(std::uint8_t first, const Bytes& rest) {
  Bytes out{first};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

std::vector<Message> sampleMessages() {
  return {Message::Ping{42},
          Message::Pong{42},
          Message::PointerMove{3.5F, -2.0F},
          Message::Button{MouseButton::left, true},
          Message::Button{MouseButton::left, false},
          Message::Gesture{SystemGesture::spaceLeft},
          Message::Key{KeyboardKey::arrowLeft, KeyModifiers{KeyModifiers::commandBit | KeyModifiers::shiftBit}},
          Message::Text{"h\xC3\xA9llo"},
          Message::Command{Command::fromJson(R"({"setVolume":{"_0":0.5}})")},
          Message::Event{Event::fromJson(R"({"failed":{"command":"Volume","reason":"Nope."}})")},
          Message::AppIconChunk{"org.x", 10, 4, Bytes{1, 2, 3}},
          Message::Scroll{ScrollGesturePhase::changed, 0, -20}};
}

const std::vector<std::string> commands{
    R"({"power":{"_0":"lock"}})",           R"({"getVolume":{}})",
    R"({"setVolume":{"_0":0.5}})",          R"({"connectBluetooth":{"address":"aa-bb"}})",
    R"({"setScreenPreview":{"_0":2}})",     R"({"setLaserPointer":{"_0":"red"}})",
    R"({"setLaserPointer":{}})",            R"({"setClipboard":{"_0":"a \"b\"\n"}})",
    R"({"runShortcut":{"name":"Focus"}})",  R"({"setKeepAwake":{"_0":false}})"};
const std::vector<std::string> events{
    R"({"volume":{"_0":{"level":0.5,"isMuted":false,"deviceName":"Speakers","canAdjust":true}}})",
    R"({"battery":{"_0":{"isPresent":true,"percent":5,"isCharging":true,"cycleCount":812,"condition":"Normal"}}})",
    R"({"bluetoothDevices":{"_0":[{"address":"a1","name":"Mouse","isConnected":true,"batteryPercent":40}]}})",
    R"({"apps":{"_0":[{"bundleId":"org.x","name":"X","isRunning":true}]}})",
    R"({"presentation":{"_0":{"app":"Keynote","isPlaying":true,"slideIndex":3,"slideCount":12,"notes":"Hi","notesAvailable":true}}})",
    R"({"nowPlaying":{"_0":{"title":"T","artist":"A","album":"B","isPlaying":false,"artworkKey":"k1"}}})",
    R"({"shortcuts":{"_0":["One","Two"]}})",
    R"({"failed":{"command":"Volume","reason":"Nope."}})"};

Bytes helloBody() {
  const HandshakeMessage::Hello hello{1, "PHONE-1", "Ann's phone", Bytes(32, 9), Bytes(16, 7), true};
  return encodeHandshake(hello).body;
}

void wireSeeds() {
  const Bytes hello = RecordFramer::encode(RecordKind::handshake, helloBody());
  Bytes stream = hello;
  for (const Message& m : sampleMessages()) {
    RecordFramer::encode(RecordKind::encrypted, MessageCodec::encode(m), stream);
  }
  write("fuzz_record_framer", "one-record", prefixed(255, hello));
  write("fuzz_record_framer", "stream-byte-by-byte", prefixed(0, stream));
  write("fuzz_record_framer", "stream-in-sevens", prefixed(6, stream));

  int n = 0;
  for (const Message& m : sampleMessages()) write("fuzz_message_codec", "message-" + std::to_string(n++), MessageCodec::encode(m));

  n = 0;
  for (const auto& json : commands) write("fuzz_command_event", "command-" + std::to_string(n++), prefixed(0, text(json)));
  n = 0;
  for (const auto& json : events) write("fuzz_command_event", "event-" + std::to_string(n++), prefixed(1, text(json)));
}

void handshakeMessageSeeds() {
  namespace H = HandshakeMessage;
  write("fuzz_handshake_message", "hello", helloBody());
  write("fuzz_handshake_message", "hello-ack",
        encodeHandshake(H::HelloAck{1, "HOST-1", "Desk", Bytes(32, 3), Bytes(16, 4), false}).body);
  write("fuzz_handshake_message", "pair-commit", encodeHandshake(H::PairCommit{19, Bytes(32, 5)}).body);
  write("fuzz_handshake_message", "pair-reveal", encodeHandshake(H::PairReveal{0, Bytes(16, 6)}).body);
  write("fuzz_handshake_message", "auth", encodeHandshake(H::Auth{Bytes(32, 8)}).body);
  write("fuzz_handshake_message", "auth-ok", encodeHandshake(H::AuthOK{Bytes(32, 8), 0xBEEF, 50123}).body);
  write("fuzz_handshake_message", "auth-ok-without-port", encodeHandshake(H::AuthOK{Bytes(32, 8), 7, std::nullopt}).body);
  write("fuzz_handshake_message", "failure", encodeHandshake(H::Failure{"pairing code did not match"}).body);
}

// A phone and the target's host, each on its own thread, over a socket
// pair; what the phone sends is the seed.
Bytes recordSession(fuzz::HandshakeMode mode) {
  asio::io_context hostIo;
  asio::io_context phoneIo;
  asio::local::stream_protocol::socket hostSocket(hostIo);
  asio::local::stream_protocol::socket phoneSocket(phoneIo);
  asio::local::connect_pair(hostSocket, phoneSocket);

  std::thread hostSide([&] {
    fuzz::DeterministicRandom::reset(fuzz::hostSeed);
    auto host = Session::make(hostIo.get_executor(), StreamTransport::make(std::move(hostSocket), TransportKind::usb),
                              Session::Role::host, fuzz::fuzzHost,
                              std::make_shared<fuzz::FixedPairing>(mode, fuzz::fuzzPhone.id));
    asio::co_spawn(hostIo, fuzz::serveAsHost(host), asio::detached);
    hostIo.run();
  });

  fuzz::DeterministicRandom::reset(fuzz::phoneSeed);
  auto tap = testing::TappedTransport::wrap(phoneIo.get_executor(),
                                            StreamTransport::make(std::move(phoneSocket), TransportKind::usb));
  const std::optional<std::string> expected =
      mode == fuzz::HandshakeMode::storedKey ? std::optional(fuzz::fuzzHost.id) : std::nullopt;
  auto phone = Session::make(phoneIo.get_executor(), tap, Session::Role::client, fuzz::fuzzPhone,
                             std::make_shared<fuzz::FixedPairing>(mode, fuzz::fuzzHost.id), expected);
  bool answered = false;
  asio::co_spawn(phoneIo, [](std::shared_ptr<Session> p, bool& pong) -> asio::awaitable<void> {
    co_await p->performHandshake();
    auto incoming = p->messages();
    for (Message m : sampleMessages()) co_await p->send(std::move(m), Channel::unreliable);
    while (auto m = co_await incoming.next()) {
      if (std::holds_alternative<Message::Pong>(m->value)) break;
    }
    pong = true;
    p->close();
  }(phone, answered), asio::detached);
  phoneIo.run();
  hostSide.join();
  if (!answered) throw std::runtime_error("the recorded handshake did not get through");

  Bytes seed{static_cast<std::uint8_t>(mode == fuzz::HandshakeMode::storedKey ? 0 : 1)};
  for (const auto& sent : tap->sent) {
    fuzz::appendChunk(seed, sent.channel == Channel::unreliable ? 1 : 0, sent.bytes);
  }
  return seed;
}

void sessionSeeds() {
  write("fuzz_host_session", "stored-key-then-messages", recordSession(fuzz::HandshakeMode::storedKey));
  write("fuzz_host_session", "pairing-then-messages", recordSession(fuzz::HandshakeMode::pairing));

  // Frames the receive side takes: in order on the stream, then datagrams
  // that repeat and come late, then junk and a handshake record.
  Bytes frames;
  std::uint64_t sequence = 0;
  auto sealed = [&](std::uint8_t flags, std::uint64_t seq, const Message& m) {
    Bytes chunk;
    for (int i = 0; i < 8; ++i) chunk.push_back(static_cast<std::uint8_t>(seq >> (8 * i)));
    const Bytes plain = MessageCodec::encode(m);
    chunk.insert(chunk.end(), plain.begin(), plain.end());
    fuzz::appendChunk(frames, flags, chunk);
  };
  for (const Message& m : sampleMessages()) sealed(2, sequence++, m);
  sealed(2 | 1 | 4, 5, Message::PointerMove{1, 1});
  sealed(2 | 1 | 4, 5, Message::PointerMove{1, 1});
  sealed(2 | 1 | 4, 4, Message::PointerMove{2, 2});
  fuzz::appendChunk(frames, 1, Bytes(40, 0xEE));
  fuzz::appendChunk(frames, 8, helloBody());
  sealed(2, sequence + 1, Message::Text{"after a gap"});
  write("fuzz_frame_receiver", "stream-datagrams-and-junk", frames);
}

Bytes usbmuxPacket(std::uint32_t tag, const std::string& xml) {
  Bytes out;
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put(static_cast<std::uint32_t>(16 + xml.size()));
  put(1);
  put(8);
  put(tag);
  out.insert(out.end(), xml.begin(), xml.end());
  return out;
}

std::string plist(const std::string& body) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>)" + body + "</dict></plist>\n";
}

void usbmuxSeeds() {
  const Bytes result = usbmuxPacket(1, plist("<key>MessageType</key><string>Result</string><key>Number</key><integer>0</integer>"));
  const auto attached = [](int id, const char* type) {
    return usbmuxPacket(0, plist("<key>MessageType</key><string>Attached</string><key>DeviceID</key><integer>" +
                                 std::to_string(id) +
                                 "</integer><key>Properties</key><dict><key>ConnectionType</key><string>" + type +
                                 "</string><key>DeviceID</key><integer>" + std::to_string(id) +
                                 "</integer><key>SerialNumber</key><string>SERIAL</string></dict>"));
  };
  const Bytes detached =
      usbmuxPacket(0, plist("<key>MessageType</key><string>Detached</string><key>DeviceID</key><integer>5</integer>"));
  Bytes notices = result;
  for (const Bytes& b : {attached(5, "USB"), attached(8, "Network"), detached}) notices.insert(notices.end(), b.begin(), b.end());
  write("fuzz_usbmux", "listen-then-notices", notices);
  write("fuzz_usbmux", "refused", usbmuxPacket(2, plist("<key>MessageType</key><string>Result</string><key>Number</key><integer>3</integer>")));
}

void bleSeeds() {
  // Power on, a phone subscribes with a 20-byte link, writes a hello in two
  // pieces, the radio fills up and frees room, the phone goes.
  Bytes ops;
  fuzz::appendChunk(ops, 0, {});
  fuzz::appendChunk(ops, 1, Bytes{0, 0, 20});
  const Bytes hello = RecordFramer::encode(RecordKind::handshake, helloBody());
  const std::size_t half = hello.size() / 2;
  Bytes first{0, 1, 20, 0};
  first.insert(first.end(), hello.begin(), hello.begin() + static_cast<std::ptrdiff_t>(half));
  Bytes second{0, 1, 20, 1};
  second.insert(second.end(), hello.begin() + static_cast<std::ptrdiff_t>(half), hello.end());
  fuzz::appendChunk(ops, 3, first);
  fuzz::appendChunk(ops, 4, Bytes{0});
  fuzz::appendChunk(ops, 3, second);
  fuzz::appendChunk(ops, 4, Bytes{200});
  fuzz::appendChunk(ops, 1, Bytes{1, 0, 185});
  fuzz::appendChunk(ops, 2, Bytes{0, 0, 20});
  fuzz::appendChunk(ops, 5, Bytes{4});
  write("fuzz_ble_writes", "subscribe-write-unsubscribe", ops);
}

void fileSeeds() {
  write("fuzz_touch_trace", "glide", text(R"({"id":1,"phase":"began","x":10,"y":20,"time":0.0}
{"id":1,"phase":"moved","x":14,"y":22,"time":0.008}
{"flush":0.016}
{"id":1,"phase":"moved","x":30,"y":25,"time":0.024}

{"id":1,"phase":"ended","x":31,"y":25,"time":0.03}
{"flush":0.032}
)"));
  write("fuzz_touch_trace", "two-finger-scroll", text(R"({"id":1,"phase":"began","x":10,"y":20,"time":0}
{"id":2,"phase":"began","x":40,"y":20,"time":0}
{"flush":0.01}
{"id":1,"phase":"moved","x":10,"y":60,"time":0.02}
{"id":2,"phase":"moved","x":40,"y":60,"time":0.02}
{"flush":0.03}
{"id":1,"phase":"cancelled","x":10,"y":60,"time":0.04}
{"id":2,"phase":"ended","x":40,"y":60,"time":0.04}
{"flush":0.05}
)"));

  const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(978307200 + 10));
  write("fuzz_key_item", "entry",
        KeychainStore::encodeEntry({PairedPeer{"PHONE-1", "Ann's phone", at, at}, SymmetricKey(Bytes(32, 0xAB))}));
  write("fuzz_key_item", "documented",
        text(R"({"peer":{"id":"P","name":"N","pairedAt":1.5,"lastSeen":2.0},"key":"q6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6s="})"));

  write("fuzz_settings", "host", text("{\n  \"hostId\": \"6F1C2A4E-3B5D-4C7E-9A1B-2C3D4E5F6A7B\"\n}\n"));
  write("fuzz_settings", "phone",
        text(R"({"phoneId":"PHONE-1","spentPairingCodes":"000007,123456,999999"})"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: glidemate-fuzz-seeds DIR\n");
    return 2;
  }
  root = argv[1];
  fuzz::DeterministicRandom::install();
  try {
    wireSeeds();
    handshakeMessageSeeds();
    sessionSeeds();
    usbmuxSeeds();
    bleSeeds();
    fileSeeds();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "glidemate-fuzz-seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
