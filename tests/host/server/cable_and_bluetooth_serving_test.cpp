// Phones on a cable (through a scripted multiplexer daemon that bridges the
// tunnel to a loopback port where the phone listens) and over Bluetooth LE
// (through the radio-less peripheral manager, and through BlueZ played by
// dbusmock), served by the host server.
#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <algorithm>
#include <filesystem>

#include "host/server/host_server.hpp"
#include "kit/transport/ble/bluez/bluez_peripheral_manager.hpp"
#include "kit/transport/stream_transport.hpp"
#include "phone/phone_pairing.hpp"
#include "tests/kit/transport/ble/bluez/bluez_mock.hpp"
#include "tests/kit/transport/ble/fake_ble_peripheral_manager.hpp"
#include "tests/kit/transport/usbmux/fake_usbmux_daemon.hpp"
#include "tests/support/memory_keychain.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::FakeBLEPeripheralManager;
using glidemate::testing::FakeUsbmuxDaemon;
using glidemate::testing::runUntil;

class RecordingLogger final : public Logger {
 public:
  std::vector<std::string> lines;
  void log(std::string_view, std::string_view message) override { lines.emplace_back(message); }
  bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/glidemate-links-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  std::filesystem::path path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The phone's side of one connection: a client-role session that pairs
// with the code the host shows.
struct PhoneSession {
  std::shared_ptr<Session> session;
  std::optional<PeerInfo> host;
  std::optional<std::string> error;
  bool done = false;
};

class LinkServingTest : public ::testing::Test {
 protected:
  asio::io_context io;
  glidemate::testing::MemoryKeychain hostKeys;
  glidemate::testing::MemoryKeychain phoneKeys;
  KeychainStore phoneStore{phone::PhonePairing::service, phoneKeys};
  TempFolder folder;
  UserDefaults defaults{folder.path() / "settings.json"};
  RecordingLogger logger;
  FakeUsbmuxDaemon daemon{io};
  FakeBLEPeripheralManager* radio = nullptr;
  std::shared_ptr<HostServer> server = HostServer::make(
      io.get_executor(), HostServer::Configuration{
                             .keys = hostKeys,
                             .defaults = defaults,
                             .logger = logger,
                             .hostName = "Desk",
                             .usbmuxSocketPath = daemon.socketPath(),
                             .usbmuxReplyTimeout = 100ms,
                             .cableRedialDelay = 1ms,
                             .bluetoothManager = FakeBLEPeripheralManager::factory(radio),
                         });
  // Where the phone on the cable listens for the host.
  asio::ip::tcp::acceptor phonePort{io, {asio::ip::make_address("127.0.0.1"), 0}};

  void TearDown() override { server->stop(); }

  void bridgeTo(std::uint32_t deviceId) {
    daemon.onConnect = [deviceId, port = phonePort.local_endpoint().port()](std::uint32_t id) -> FakeUsbmuxDaemon::ConnectReply {
      if (id == deviceId) return FakeUsbmuxDaemon::Bridge{port};
      return FakeUsbmuxDaemon::Refuse{2};
    };
  }

  void startListening() {
    server->start();
    ASSERT_TRUE(runUntil(io, [&] { return daemon.listeners() == 1; }));
  }

  // Runs the phone's handshake over `transport` to its end.
  std::shared_ptr<PhoneSession> handshake(std::shared_ptr<Transport> transport) {
    auto pairing = std::make_shared<phone::PhonePairing>(
        phoneStore, [this](const PeerInfo&) { return server->pairing.activeCode.get(); });
    auto phone = std::make_shared<PhoneSession>();
    phone->session = Session::make(io.get_executor(), std::move(transport), Session::Role::client,
                                   PeerInfo{"ANN", "Ann"}, pairing);
    auto run = [](std::shared_ptr<PhoneSession> p) -> asio::awaitable<void> {
      try {
        p->host = co_await p->session->performHandshake();
      } catch (const std::exception& e) {
        p->error = e.what();
      }
      p->done = true;
    };
    asio::co_spawn(io, run(phone), asio::detached);
    EXPECT_TRUE(runUntil(io, [&] { return phone->done; }));
    return phone;
  }

  // The host dials; the phone takes the connection and runs its side.
  std::shared_ptr<PhoneSession> answerCable() {
    asio::ip::tcp::socket accepted(io);
    bool acceptedOne = false;
    phonePort.async_accept(accepted, [&](asio::error_code ec) { acceptedOne = !ec; });
    EXPECT_TRUE(runUntil(io, [&] { return acceptedOne; }));
    return handshake(StreamTransport::make(std::move(accepted), TransportKind::usb));
  }

  // Ping from the phone, pong from the host.
  void exchangeMessages(Session& phone) {
    std::optional<Message> reply;
    auto talk = [](std::shared_ptr<Session> s, std::optional<Message>& out) -> asio::awaitable<void> {
      auto incoming = s->messages();
      Message ping = Message::Ping{7};
      co_await s->send(std::move(ping));
      while (auto m = co_await incoming.next()) {
        if (std::holds_alternative<Message::Pong>(m->value)) {
          out = *m;
          co_return;
        }
      }
    };
    asio::co_spawn(io, talk(phone.shared_from_this(), reply), asio::detached);
    ASSERT_TRUE(runUntil(io, [&] { return reply.has_value(); }));
    EXPECT_EQ(*reply, Message(Message::Pong{7}));
  }

  std::vector<std::string> peerTransports() const {
    std::vector<std::string> out;
    for (const auto& p : *server->peers) out.push_back(p.id + "/" + std::string(rawValue(p.transport)));
    return out;
  }
};

TEST_F(LinkServingTest, CablePhoneIsDialledPairsAndTalksUntilDetached) {
  bridgeTo(5);
  startListening();
  daemon.attach(5, "SERIAL-5", "USB");
  auto phone = answerCable();
  ASSERT_FALSE(phone->error) << *phone->error;
  EXPECT_EQ(phone->host->name, "Desk");
  ASSERT_TRUE(runUntil(io, [&] { return server->peers->size() == 1; }));
  EXPECT_EQ(peerTransports(), std::vector<std::string>{"ANN/usb"});
  exchangeMessages(*phone->session);
  EXPECT_TRUE(logger.has("Cable: device 5 attached"));
  EXPECT_TRUE(logger.has("Cable: tunnel open to device 5"));
  EXPECT_TRUE(logger.has("Session over usb: Ann connected"));

  // Detaching cancels the dialling task and the session it runs.
  daemon.detach(5);
  ASSERT_TRUE(runUntil(io, [&] { return server->cableDevices().empty(); }));
  EXPECT_TRUE(logger.has("Cable: device 5 detached"));
  ASSERT_TRUE(runUntil(io, [&] { return server->peers->empty() && server->liveSessions().empty(); }));
}

TEST_F(LinkServingTest, CableIsRedialledAfterFailuresAndAfterEachSession) {
  // At first nothing listens on the phone; then it does.
  daemon.onConnect = [](std::uint32_t) { return FakeUsbmuxDaemon::Refuse{3}; };
  startListening();
  daemon.attach(5, "SERIAL-5", "USB");
  ASSERT_TRUE(runUntil(io, [&] { return daemon.connectRequests() >= 3; }));
  EXPECT_TRUE(logger.has("Cable: dial to device 5 failed: usbmuxd refused the connection (result 3)"));

  // A daemon that never answers does not stop the dialling either.
  daemon.onConnect = [](std::uint32_t) { return FakeUsbmuxDaemon::Silent{}; };
  const std::size_t before = daemon.connectRequests();
  ASSERT_TRUE(runUntil(io, [&] { return daemon.connectRequests() >= before + 2; }));
  EXPECT_TRUE(logger.has("Cable: dial to device 5 failed: usbmuxd did not answer the connection request"));

  bridgeTo(5);
  auto first = answerCable();
  ASSERT_FALSE(first->error) << *first->error;
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().size() == 1; }));

  // The phone ends its session; the host dials again and the phone, now
  // paired, is let in with its key.
  first->session->close();
  auto second = answerCable();
  ASSERT_FALSE(second->error) << *second->error;
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().size() == 1 && server->peers->size() == 1; }));
}

TEST_F(LinkServingTest, SecondAttachOfADeviceStartsNoSecondTask) {
  daemon.onConnect = [](std::uint32_t) { return FakeUsbmuxDaemon::Silent{}; };
  server = HostServer::make(io.get_executor(), HostServer::Configuration{
                                                   .keys = hostKeys,
                                                   .defaults = defaults,
                                                   .logger = logger,
                                                   .hostName = "Desk",
                                                   .usbmuxSocketPath = daemon.socketPath(),
                                                   .usbmuxReplyTimeout = 60s,
                                               });
  startListening();
  daemon.attach(5, "SERIAL-5", "USB");
  daemon.attach(5, "SERIAL-5", "USB");
  daemon.attach(7, "SERIAL-7", "USB");
  // Notices are handled in order, so once device 7 is dialled, a second
  // task for device 5 would have dialled already.
  ASSERT_TRUE(runUntil(io, [&] {
    const auto& r = daemon.requests();
    return std::any_of(r.begin(), r.end(), [](const auto& q) { return q.deviceId == 7u; });
  }));
  EXPECT_EQ(daemon.connectRequests(), 2u);
  EXPECT_EQ(server->cableDevices(), (std::set<std::uint32_t>{5, 7}));
}

TEST_F(LinkServingTest, LosingTheDaemonCancelsEveryCableTask) {
  bridgeTo(5);
  startListening();
  daemon.attach(5, "SERIAL-5", "USB");
  daemon.attach(6, "SERIAL-6", "USB");
  daemon.attach(8, "NET-8", "Network");  // reached over the network: not dialled
  auto phone = answerCable();
  ASSERT_FALSE(phone->error);
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().size() == 1; }));
  EXPECT_EQ(server->cableDevices(), (std::set<std::uint32_t>{5, 6}));

  daemon.dropListeners();
  ASSERT_TRUE(runUntil(io, [&] { return logger.has("Cable: lost usbmuxd"); }));
  EXPECT_TRUE(server->cableDevices().empty());
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().empty() && server->peers->empty(); }));
  // The client does not come back by itself.
  EXPECT_EQ(daemon.listeners(), 0u);
}

TEST_F(LinkServingTest, BluetoothPhonePairsAndTalks) {
  server->start();
  radio->setState(BLEPeripheralManager::RadioState::poweredOn);
  ASSERT_TRUE(runUntil(io, [&] { return *server->bluetoothState == BLEPeripheralHost::State::advertising; }));
  EXPECT_EQ(radio->advertising->localName, "Desk");

  auto phone = handshake(radio->link(BLEPeripheralManager::Central{"PHONE", 182}));
  ASSERT_FALSE(phone->error) << *phone->error;
  ASSERT_TRUE(runUntil(io, [&] { return server->peers->size() == 1; }));
  EXPECT_EQ(peerTransports(), std::vector<std::string>{"ANN/ble"});
  exchangeMessages(*phone->session);
  EXPECT_TRUE(logger.has("Session over ble: Ann connected"));

  server->stop();
  EXPECT_EQ(*server->bluetoothState, BLEPeripheralHost::State::idle);
  EXPECT_FALSE(radio->advertising);
}

TEST_F(LinkServingTest, RadioProblemsShowOnlyAsState) {
  server->start();
  radio->setState(BLEPeripheralManager::RadioState::poweredOff);
  ASSERT_TRUE(runUntil(io, [&] { return *server->bluetoothState == BLEPeripheralHost::State::poweredOff; }));

  // Without a peripheral role on this platform, the radio is unsupported.
  server = HostServer::make(io.get_executor(), HostServer::Configuration{
                                                   .keys = hostKeys,
                                                   .defaults = defaults,
                                                   .logger = logger,
                                                   .hostName = "Desk",
                                                   .usbmuxSocketPath = daemon.socketPath(),
                                               });
  server->start();
  ASSERT_TRUE(runUntil(io, [&] { return *server->bluetoothState == BLEPeripheralHost::State::unsupported; }));
}

// The same host with its peripheral over BlueZ.
class BlueZServingTest : public LinkServingTest {
 protected:
  glidemate::testing::BlueZMock bluez{io};

  BlueZServingTest() {
    server = HostServer::make(io.get_executor(),
                              HostServer::Configuration{
                                  .keys = hostKeys,
                                  .defaults = defaults,
                                  .logger = logger,
                                  .hostName = "Desk",
                                  .usbmuxSocketPath = daemon.socketPath(),
                                  .bluetoothManager = BlueZPeripheralManager::factory(bluez.bus(), logger),
                              });
  }

  bool bluetoothReaches(BLEPeripheralHost::State state) {
    return runUntil(io, [&] { return *server->bluetoothState == state; });
  }
};

TEST_F(BlueZServingTest, PhonePairsAndTalksWhileTheAdapterIsOn) {
  server->start();
  ASSERT_TRUE(bluetoothReaches(BLEPeripheralHost::State::advertising));

  const std::string device = bluez.connect("5C:F3:70:00:00:0A", 185);
  auto phone = handshake(std::make_shared<glidemate::testing::MockCentralLink>(io, bluez, device, 185));
  ASSERT_FALSE(phone->error) << *phone->error;
  ASSERT_TRUE(runUntil(io, [&] { return server->peers->size() == 1; }));
  EXPECT_EQ(peerTransports(), std::vector<std::string>{"ANN/ble"});
  exchangeMessages(*phone->session);

  // The link goes with the radio, and the session with the link.
  bluez.setPowered("hci0", false);
  EXPECT_TRUE(bluetoothReaches(BLEPeripheralHost::State::poweredOff));
  EXPECT_TRUE(runUntil(io, [&] { return server->peers->empty() && server->liveSessions().empty(); }));
  bluez.setPowered("hci0", true);
  EXPECT_TRUE(bluetoothReaches(BLEPeripheralHost::State::advertising));
}

}  // namespace
}  // namespace glidemate::host
