#include <gtest/gtest.h>
#include <stdlib.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "kit/transport/stream_transport.hpp"
#include "kit/transport/usbmux/usbmux_client.hpp"
#include "kit/transport/usbmux/usbmux_error.hpp"
#include "kit/transport/usbmux/usbmux_header.hpp"
#include "kit/transport/usbmux/usbmux_message.hpp"
#include "kit/transport/usbmux/usbmux_packet.hpp"
#include "kit/wire/byte_writer.hpp"
#include "tests/kit/transport/usbmux/fake_usbmux_daemon.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::FakeUsbmuxDaemon;
using testing::driveUntil;
using testing::runAwaitable;
using testing::thrown;
using namespace std::chrono_literals;

Bytes header(std::uint32_t length, std::uint32_t version, std::uint32_t message = 8, std::uint32_t tag = 0) {
  ByteWriter writer;
  writer.write(length);
  writer.write(version);
  writer.write(message);
  writer.write(tag);
  return std::move(writer).data();
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">" +
         body + "</plist>";
}

TEST(USBMuxPacketTest, EncodedBeginsWithLittleEndianHeader) {
  const Bytes payload = bytesOf("<plist/>");
  const Bytes encoded = USBMuxPacket{1, payload}.encoded();
  Bytes expected = header(static_cast<std::uint32_t>(16 + payload.size()), 1, 8, 1);
  expected.insert(expected.end(), payload.begin(), payload.end());
  EXPECT_EQ(encoded, expected);
  EXPECT_EQ(thrown<USBMuxError>([] { (void)USBMuxPacket{1, Bytes(USBMuxPacket::maximumPayload + 1)}.encoded(); }),
            USBMuxError::payloadTooLarge(1048577));
}

TEST(USBMuxHeaderTest, DecodeValidatesBeforeThePayloadIsRead) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<USBMuxError> error;
    std::size_t payloadLength;
  };
  const std::vector<Case> cases = {
      {"version 2", header(16, 2), USBMuxError::unsupportedVersion(2), 0},
      {"length 15", header(15, 1), USBMuxError::malformedPacket(), 0},
      {"length 0", header(0, 1), USBMuxError::malformedPacket(), 0},
      {"one byte over 1 MiB", header(0x100011, 1), USBMuxError::payloadTooLarge(1048577), 0},
      {"largest length", header(0xFFFFFFFF, 1), USBMuxError::payloadTooLarge(0xFFFFFFFFll - 16), 0},
      {"fifteen bytes", Bytes(15, 0), USBMuxError::malformedPacket(), 0},
      {"empty payload", header(16, 1), std::nullopt, 0},
      {"exactly 1 MiB", header(0x100010, 1), std::nullopt, 1048576},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto error = thrown<USBMuxError>([&] { (void)USBMuxHeader::decode(c.bytes); });
    EXPECT_EQ(error, c.error);
    if (!c.error) {
      EXPECT_EQ(USBMuxHeader::decode(c.bytes).payloadLength(), c.payloadLength);
    }
  }
}

TEST(USBMuxMessageTest, ParseReadsRepliesByMessageType) {
  using R = USBMuxResponse;
  struct Case {
    const char* name;
    std::string payload;
    std::optional<USBMuxResponse> expected;
  };
  const std::vector<Case> cases = {
      {"result", plist("<dict><key>MessageType</key><string>Result</string><key>Number</key><integer>0</integer></dict>"),
       R::Result{0}},
      {"refusal", plist("<dict><key>MessageType</key><string>Result</string><key>Number</key><integer>3</integer></dict>"),
       R::Result{3}},
      {"attached over USB",
       plist("<dict><key>MessageType</key><string>Attached</string><key>DeviceID</key><integer>7</integer>"
             "<key>Properties</key><dict><key>ConnectionType</key><string>USB</string>"
             "<key>SerialNumber</key><string>00008030-ABC</string></dict></dict>"),
       R::Attached{USBMuxDevice{7, "00008030-ABC", "USB"}}},
      {"attached without serial or type",
       plist("<dict><key>MessageType</key><string>Attached</string><key>DeviceID</key><integer>4294967295</integer>"
             "<key>Properties</key><dict/></dict>"),
       R::Attached{USBMuxDevice{4294967295u, "", ""}}},
      {"detached", plist("<dict><key>MessageType</key><string>Detached</string><key>DeviceID</key><integer>7</integer></dict>"),
       R::Detached{7}},
      {"other type", plist("<dict><key>MessageType</key><string>Paired</string></dict>"), R::Other{"Paired"}},
      {"device id too large",
       plist("<dict><key>MessageType</key><string>Detached</string><key>DeviceID</key><integer>4294967296</integer></dict>"),
       std::nullopt},
      {"negative device id",
       plist("<dict><key>MessageType</key><string>Detached</string><key>DeviceID</key><integer>-1</integer></dict>"),
       std::nullopt},
      {"attached without properties",
       plist("<dict><key>MessageType</key><string>Attached</string><key>DeviceID</key><integer>7</integer></dict>"),
       std::nullopt},
      {"result without number", plist("<dict><key>MessageType</key><string>Result</string></dict>"), std::nullopt},
      {"number as text",
       plist("<dict><key>MessageType</key><string>Result</string><key>Number</key><string>0</string></dict>"),
       std::nullopt},
      {"no message type", plist("<dict><key>Number</key><integer>0</integer></dict>"), std::nullopt},
      {"message type not text", plist("<dict><key>MessageType</key><integer>1</integer></dict>"), std::nullopt},
      {"not a dictionary", plist("<array><string>Result</string></array>"), std::nullopt},
      {"not XML", "\x01\x02garbage", std::nullopt},
      {"truncated XML", plist("<dict><key>MessageType</key><string>Res").substr(0, 120), std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(USBMuxMessage::parse(bytesOf(c.payload)), c.expected);
  }
}

TEST(USBMuxSocketPathTest, ComesFromTheEnvironment) {
  struct Case {
    const char* value;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {nullptr, "/var/run/usbmuxd"},
      {"", "/var/run/usbmuxd"},
      {"UNIX:/tmp/muxd.sock", "/tmp/muxd.sock"},
      {"/run/other/usbmuxd", "/run/other/usbmuxd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value) {
      setenv("USBMUXD_SOCKET_ADDRESS", c.value, 1);
    } else {
      unsetenv("USBMUXD_SOCKET_ADDRESS");
    }
    EXPECT_EQ(USBMuxClient::socketPath(), c.expected);
  }
  unsetenv("USBMUXD_SOCKET_ADDRESS");
}

class USBMuxClientTest : public ::testing::Test {
 protected:
  using Event = USBMuxClient::Event;

  asio::io_context io;
  FakeUsbmuxDaemon daemon{io};
  std::shared_ptr<USBMuxClient> client = USBMuxClient::make(io.get_executor(), daemon.socketPath(), 200ms);

  std::optional<Event> nextEvent() { return runAwaitable(io, client->events().next()); }

  void startListening() {
    client->start();
    driveUntil(io, [&] { return daemon.listeners() == 1; });
  }

  USBMuxClient::Socket openTunnel(std::uint32_t deviceId) {
    std::optional<USBMuxClient::Socket> socket;
    auto work = [&]() -> asio::awaitable<void> { socket.emplace(co_await client->openTunnel(deviceId, 27183)); };
    runAwaitable(io, work());
    return std::move(*socket);
  }

  std::optional<USBMuxError> tunnelError(std::uint32_t deviceId) {
    return thrown<USBMuxError>([&] { (void)openTunnel(deviceId); });
  }
};

TEST_F(USBMuxClientTest, ListensAndReportsOnlyCableDevices) {
  startListening();
  const auto& listen = daemon.requests().at(0);
  EXPECT_EQ(listen.messageType, "Listen");
  EXPECT_EQ(listen.clientVersion, "Glidemate-1.0");
  EXPECT_EQ(listen.progName, "Glidemate");
  EXPECT_EQ(std::tie(listen.version, listen.message, listen.tag), std::make_tuple(1u, 8u, 1u));

  // A phone on the network, an unknown notice and an empty packet are all
  // passed over; the next packets still arrive whole.
  daemon.attach(3, "NET-1", "Network");
  daemon.sendMessageType("Paired");
  daemon.sendRaw(FakeUsbmuxDaemon::packet(0, {}));
  daemon.attach(5, std::nullopt, "USB");
  daemon.attach(6, "CABLE-6", "USB");
  daemon.detach(5);
  EXPECT_EQ(nextEvent(), Event(USBMuxClient::Attached{USBMuxDevice{5, "", "USB"}}));
  EXPECT_EQ(nextEvent(), Event(USBMuxClient::Attached{USBMuxDevice{6, "CABLE-6", "USB"}}));
  EXPECT_EQ(nextEvent(), Event(USBMuxClient::Detached{5}));
}

TEST_F(USBMuxClientTest, BadPacketsEndTheNoticeLoop) {
  Bytes truncated = header(16 + 100, 1);
  truncated.insert(truncated.end(), 10, 'x');
  struct Case {
    const char* name;
    Bytes bytes;
    bool hangUp;
  };
  const std::vector<Case> cases = {
      {"wrong version", header(16 + 4, 2), false},
      {"length below the header", header(15, 1), false},
      {"oversized payload", header(0x100011, 1), false},
      {"largest announced length", header(0xFFFFFFFF, 1), false},
      {"daemon hangs up mid-header", Bytes(7, 0), true},
      {"daemon hangs up mid-payload", truncated, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto fresh = USBMuxClient::make(io.get_executor(), daemon.socketPath(), 200ms);
    fresh->start();
    driveUntil(io, [&] { return daemon.listeners() == 1; });
    daemon.sendRaw(c.bytes);
    if (c.hangUp) daemon.dropListeners();
    EXPECT_EQ(runAwaitable(io, fresh->events().next()), Event(USBMuxClient::Disconnected{}));
    fresh->stop();
    daemon.dropListeners();
  }
}

TEST_F(USBMuxClientTest, NoUsableDaemonIsDisconnected) {
  struct Case {
    const char* name;
    std::optional<std::int64_t> listenResult;
    bool daemonRunning;
  };
  // A daemon that is not running at all is told apart from one that failed.
  const std::vector<Case> cases = {
      {"Listen refused", 1, true},
      {"Listen never answered", std::nullopt, true},
      {"no daemon", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeUsbmuxDaemon other(io);
    other.listenResult = c.listenResult;
    if (!c.daemonRunning) other.shutDown();
    auto fresh = USBMuxClient::make(io.get_executor(), other.socketPath(), 100ms);
    fresh->start();
    EXPECT_EQ(runAwaitable(io, fresh->events().next()), Event(USBMuxClient::Disconnected{c.daemonRunning}));
  }
}

TEST_F(USBMuxClientTest, NeverReconnectsByItself) {
  startListening();
  daemon.dropListeners();
  EXPECT_EQ(nextEvent(), Event(USBMuxClient::Disconnected{}));

  // The lost connection stays recorded: start() alone does nothing.
  client->start();
  io.poll();
  EXPECT_EQ(daemon.requests().size(), 1u);

  // stop() ends quietly; stop() then start() makes a new connection.
  client->stop();
  client->start();
  driveUntil(io, [&] { return daemon.listeners() == 1; });
  EXPECT_EQ(daemon.requests().size(), 2u);
  client->stop();
  daemon.attach(9, "AFTER-STOP", "USB");
  client->start();
  driveUntil(io, [&] { return daemon.listeners() == 2; });
  daemon.attach(8, "LIVE", "USB");
  EXPECT_EQ(nextEvent(), Event(USBMuxClient::Attached{USBMuxDevice{8, "LIVE", "USB"}}));
}

TEST_F(USBMuxClientTest, TunnelRequestCarriesTheSwappedPort) {
  daemon.onConnect = [](std::uint32_t) { return FakeUsbmuxDaemon::Refuse{3}; };
  EXPECT_EQ(tunnelError(42), USBMuxError::refused(3));
  const auto& connect = daemon.requests().at(0);
  EXPECT_EQ(connect.messageType, "Connect");
  EXPECT_EQ(connect.deviceId, 42u);
  EXPECT_EQ(connect.portNumber, 12138u);
  EXPECT_EQ(connect.tag, 2u);
  EXPECT_EQ(connect.progName, "Glidemate");
  EXPECT_EQ(connect.clientVersion, "Glidemate-1.0");
}

TEST_F(USBMuxClientTest, TunnelFailures) {
  Bytes cutShort = FakeUsbmuxDaemon::packet(2, FakeUsbmuxDaemon::resultPayload(0));
  cutShort.erase(cutShort.end() - 5, cutShort.end());
  struct Case {
    const char* name;
    FakeUsbmuxDaemon::ConnectReply reply;
    USBMuxError expected;
  };
  const std::vector<Case> cases = {
      {"refused", FakeUsbmuxDaemon::Refuse{2}, USBMuxError::refused(2)},
      {"never answered", FakeUsbmuxDaemon::Silent{}, USBMuxError::connectFailed()},
      {"hangs up mid-reply", FakeUsbmuxDaemon::Raw{cutShort}, USBMuxError::connectFailed()},
      {"hangs up at once", FakeUsbmuxDaemon::Raw{}, USBMuxError::connectFailed()},
      {"not a result",
       FakeUsbmuxDaemon::Raw{FakeUsbmuxDaemon::packet(2, bytesOf(plist(
                                                          "<dict><key>MessageType</key><string>Paired</string></dict>")))},
       USBMuxError::connectFailed()},
      {"oversized reply", FakeUsbmuxDaemon::Raw{header(0x200000, 1)}, USBMuxError::connectFailed()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    daemon.onConnect = [&](std::uint32_t) { return c.reply; };
    EXPECT_EQ(tunnelError(1), c.expected);
  }
  daemon.shutDown();
  EXPECT_EQ(tunnelError(1), USBMuxError::daemonUnavailable());
}

TEST_F(USBMuxClientTest, OpenTunnelCarriesThePhonesBytes) {
  asio::ip::tcp::acceptor phone(io, {asio::ip::make_address("127.0.0.1"), 0});
  daemon.onConnect = [port = phone.local_endpoint().port()](std::uint32_t) { return FakeUsbmuxDaemon::Bridge{port}; };
  auto transport = StreamTransport::make(openTunnel(7), TransportKind::usb);
  asio::ip::tcp::socket accepted(io);
  runAwaitable(io, phone.async_accept(accepted, asio::use_awaitable));
  transport->start();
  EXPECT_EQ(runAwaitable(io, transport->events().next()), TransportEvent(TransportEvent::Ready{}));
  EXPECT_EQ(transport->kind(), TransportKind::usb);

  runAwaitable(io, transport->send(bytesOf("to phone"), Channel::unreliable));
  Bytes received(8);
  (void)runAwaitable(io, asio::async_read(accepted, asio::buffer(received), asio::use_awaitable));
  EXPECT_EQ(received, bytesOf("to phone"));

  const Bytes reply = bytesOf("to host");
  (void)runAwaitable(io, asio::async_write(accepted, asio::buffer(reply), asio::use_awaitable));
  Bytes got;
  while (got.size() < reply.size()) {
    auto event = runAwaitable(io, transport->events().next());
    ASSERT_TRUE(event);
    auto* data = std::get_if<TransportEvent::Data>(&event->value);
    ASSERT_NE(data, nullptr);
    got.insert(got.end(), data->bytes.begin(), data->bytes.end());
  }
  EXPECT_EQ(got, reply);
}

}  // namespace
}  // namespace glidemate
