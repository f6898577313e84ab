// The peripheral host over BlueZ, with BlueZ and the phones played by
// python-dbusmock on a private system bus.
#include "kit/transport/ble/bluez/bluez_peripheral_manager.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <numeric>
#include <set>

#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/ble/ble_peripheral_host.hpp"
#include "kit/transport/ble/ble_protocol.hpp"
#include "tests/kit/transport/ble/bluez/bluez_mock.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using testing::BlueZMock;
using testing::MockCentralLink;
using testing::runAwaitable;
using testing::runUntil;
using State = BLEPeripheralHost::State;

const std::string serviceUUID(BLEProtocol::serviceIdentifier);
const std::string inboundUUID(BLEProtocol::inboundIdentifier);
const std::string outboundUUID(BLEProtocol::outboundIdentifier);

Bytes counting(std::size_t size, std::uint8_t from = 0) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), from);
  return bytes;
}

class RecordingLogger final : public Logger {
 public:
  std::vector<std::string> lines;
  void log(std::string_view, std::string_view message) override { lines.emplace_back(message); }
  bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

// The value of attribute `name` in one XML tag.
std::string attribute(const std::string& tag, const std::string& name) {
  const auto at = tag.find(" " + name + "=\"");
  if (at == std::string::npos) return {};
  const auto begin = at + name.size() + 3;
  return tag.substr(begin, tag.find('"', begin) - begin);
}

// The methods ("Name(in)(out)") and properties ("Name:type") of one
// interface in introspection data.
std::set<std::string> members(const std::string& xml, const std::string& interface) {
  std::set<std::string> out;
  const auto begin = xml.find("<interface name=\"" + interface + "\"");
  if (begin == std::string::npos) return out;
  const std::string body = xml.substr(begin, xml.find("</interface>", begin) - begin);
  std::optional<std::string> method;
  std::string in, outArgs;
  for (auto at = body.find('<'); at != std::string::npos; at = body.find('<', at + 1)) {
    const std::string tag = body.substr(at, body.find('>', at) - at + 1);
    if (tag.starts_with("<method ")) {
      method = attribute(tag, "name");
      in.clear();
      outArgs.clear();
    } else if (tag.starts_with("<arg ") && method) {
      (attribute(tag, "direction") == "out" ? outArgs : in) += attribute(tag, "type");
    } else if (tag.starts_with("<property ")) {
      out.insert(attribute(tag, "name") + ":" + attribute(tag, "type"));
    }
    if (method && (tag == "</method>" || (tag.starts_with("<method ") && tag.ends_with("/>")))) {
      out.insert(*method + "(" + in + ")(" + outArgs + ")");
      method.reset();
    }
  }
  return out;
}

class BlueZPeripheralTest : public ::testing::Test {
 protected:
  asio::io_context io;
  BlueZMock bluez{io};
  RecordingLogger logger;
  std::unique_ptr<BLEPeripheralHost> host = std::make_unique<BLEPeripheralHost>(
      io.get_executor(), "Conference Room MacBook", BlueZPeripheralManager::factory(bluez.bus(), logger));
  std::vector<State> states;
  Task recorder{io.get_executor(), record(host->states(), states)};

  static asio::awaitable<void> record(AsyncStream<State>& stream, std::vector<State>& out) {
    while (auto state = co_await stream.next()) out.push_back(*state);
  }

  bool reaches(State state) {
    return runUntil(io, [&] { return !states.empty() && states.back() == state; });
  }

  void advertise() {
    host->start();
    ASSERT_TRUE(reaches(State::advertising));
  }

  std::shared_ptr<BLETransport> nextConnection() { return *runAwaitable(io, host->connections().next()); }

  // The bytes that arrive on `transport` until `count` have come (or it
  // closed).
  Bytes receive(Transport& transport, std::size_t count) {
    Bytes out;
    while (out.size() < count) {
      auto event = runAwaitable(io, transport.events().next());
      if (!event || std::holds_alternative<TransportEvent::Closed>(event->value)) break;
      if (auto* data = std::get_if<TransportEvent::Data>(&event->value)) {
        out.insert(out.end(), data->bytes.begin(), data->bytes.end());
      }
    }
    return out;
  }

  // A central that subscribed and then wrote `hello`, and the host's
  // transport for it.
  struct Phone {
    std::string device;
    std::shared_ptr<BLETransport> transport;
  };
  Phone connectPhone(const std::string& address, std::uint16_t mtu, const Bytes& hello = {1, 2, 3}) {
    const std::string device = bluez.connect(address, mtu);
    bluez.subscribe(device);
    bluez.write(device, hello);
    auto transport = nextConnection();
    transport->start();
    EXPECT_EQ(receive(*transport, hello.size()), hello);
    return {device, transport};
  }

  bool closes(BLETransport& transport) {
    return runUntil(io, [&] { return transport.isClosed(); });
  }
};

TEST(BlueZMockTest, OffersTheInterfacesBlueZDocuments) {
  asio::io_context io;
  BlueZMock bluez(io);
  const std::string device = bluez.connect("5C:F3:70:00:00:01", 185);
  auto introspect = [&](const std::string& path) {
    auto proxy = bluez.bus()->proxy("org.bluez", path);
    auto reply =
        runAwaitable(io, bluez.bus()->call(*proxy, proxy->createMethodCall("org.freedesktop.DBus.Introspectable",
                                                                           "Introspect")));
    std::string xml;
    reply >> xml;
    return xml;
  };
  const std::string adapter = introspect("/org/bluez/hci0");
  EXPECT_EQ(members(adapter, "org.bluez.GattManager1"),
            (std::set<std::string>{"RegisterApplication(oa{sv})()", "UnregisterApplication(o)()"}));
  EXPECT_EQ(members(adapter, "org.bluez.LEAdvertisingManager1"),
            (std::set<std::string>{"RegisterAdvertisement(oa{sv})()", "UnregisterAdvertisement(o)()",
                                   "ActiveInstances:y", "SupportedInstances:y", "SupportedIncludes:as"}));
  EXPECT_EQ(members(adapter, "org.bluez.Adapter1"),
            (std::set<std::string>{"Address:s", "AddressType:s", "Name:s", "Alias:s", "Class:u", "Powered:b",
                                   "Discoverable:b", "Pairable:b", "Discovering:b", "UUIDs:as", "Roles:as"}));
  EXPECT_EQ(members(introspect(device), "org.bluez.Device1"),
            (std::set<std::string>{"Address:s", "AddressType:s", "Name:s", "Alias:s", "Adapter:o", "Paired:b",
                                   "Connected:b", "ServicesResolved:b"}));
}

TEST_F(BlueZPeripheralTest, PublishesTheServiceAndAdvertisementBlueZReads) {
  advertise();
  std::optional<std::string> servicePath;
  std::map<std::string, std::pair<std::string, std::vector<std::string>>> characteristics;
  for (const auto& [path, interfaces] : bluez.application()) {
    if (auto it = interfaces.find("org.bluez.GattService1"); it != interfaces.end()) {
      EXPECT_FALSE(servicePath) << "a second service";
      servicePath = path;
      EXPECT_EQ(it->second.at("UUID").get<std::string>(), serviceUUID);
      EXPECT_TRUE(it->second.at("Primary").get<bool>());
    }
    if (auto it = interfaces.find("org.bluez.GattCharacteristic1"); it != interfaces.end()) {
      characteristics[it->second.at("UUID").get<std::string>()] = {
          it->second.at("Service").get<sdbus::ObjectPath>(), it->second.at("Flags").get<std::vector<std::string>>()};
    }
  }
  ASSERT_TRUE(servicePath);
  using Flags = std::vector<std::string>;
  EXPECT_EQ(characteristics,
            (std::map<std::string, std::pair<std::string, Flags>>{
                {inboundUUID, {*servicePath, Flags{"write-without-response", "write"}}},
                {outboundUUID, {*servicePath, Flags{"notify"}}},
            }));

  const auto advertisement = bluez.advertisement();
  EXPECT_EQ(advertisement.at("Type").get<std::string>(), "peripheral");
  EXPECT_EQ(advertisement.at("ServiceUUIDs").get<std::vector<std::string>>(), std::vector<std::string>{serviceUUID});
  EXPECT_EQ(advertisement.at("LocalName").get<std::string>(), "Conference Room ");
  EXPECT_TRUE(logger.has("Bluetooth: using adapter /org/bluez/hci0"));
}

TEST_F(BlueZPeripheralTest, StateFollowsTheAdapter) {
  advertise();
  const std::vector<std::pair<std::function<void()>, State>> steps = {
      {[&] { bluez.setPowered("hci0", false); }, State::poweredOff},
      {[&] { bluez.setPowered("hci0", true); }, State::advertising},
      {[&] { bluez.removeAdapter("hci0"); }, State::unsupported},
      {[&] { bluez.addAdapter("hci1", false); }, State::poweredOff},
      {[&] { bluez.setPowered("hci1", true); }, State::advertising},
  };
  for (const auto& [step, expected] : steps) {
    step();
    EXPECT_TRUE(reaches(expected)) << "stuck at " << static_cast<int>(states.back());
  }
  // Published and advertised on the adapter that came.
  EXPECT_FALSE(bluez.application("hci1").empty());
  EXPECT_FALSE(bluez.advertisement("hci1").empty());
  EXPECT_TRUE(logger.has("Bluetooth LE unavailable: the Bluetooth adapter is powered off"));
  EXPECT_TRUE(logger.has("Bluetooth LE unavailable: there is no Bluetooth adapter"));
}

TEST_F(BlueZPeripheralTest, BytesFlowBothWaysInPiecesTheLinkCarries) {
  advertise();
  // The MTU BlueZ reports (none negotiated, a common one, the largest)
  // and the most each notification may carry.
  const std::vector<std::pair<std::uint16_t, std::size_t>> links = {{23, 20}, {185, 182}, {517, 512}};
  for (const auto& [mtu, expected] : links) {
    SCOPED_TRACE(mtu);
    MockCentralLink link(io, bluez, bluez.connect("5C:F3:70:00:00:" + std::to_string(mtu % 100), mtu), mtu);
    link.start();
    runAwaitable(io, link.send(counting(700), Channel::reliable));
    auto transport = nextConnection();
    transport->start();
    EXPECT_EQ(receive(*transport, 700), counting(700));

    runAwaitable(io, transport->send(counting(1500, 7), Channel::reliable));
    EXPECT_EQ(receive(link, 1500), counting(1500, 7));
    std::size_t largest = 0;
    for (const auto& n : link.notifications()) largest = std::max(largest, n.size());
    EXPECT_EQ(largest, expected);
    link.close();
  }
}

TEST_F(BlueZPeripheralTest, LatestCentralWinsAndAVanishedOneLetsGo) {
  advertise();
  auto ann = connectPhone("5C:F3:70:00:00:0A", 185);
  auto bob = connectPhone("5C:F3:70:00:00:0B", 100, Bytes{9});
  EXPECT_TRUE(ann.transport->isClosed());

  // Ann does not know she was displaced: what she writes goes nowhere.
  bluez.write(ann.device, Bytes{0xAA});
  bluez.write(bob.device, Bytes{0xBB});
  EXPECT_EQ(receive(*bob.transport, 1), Bytes{0xBB});

  // Bob's link drops without an unsubscribe (Ann still subscribes, so
  // BlueZ never stops notifying): his transport ends all the same.
  bluez.disconnect(bob.device);
  EXPECT_TRUE(closes(*bob.transport));

  // Reconnected, Ann is a new central.
  bluez.disconnect(ann.device);
  auto again = connectPhone("5C:F3:70:00:00:0A", 185, Bytes{4});
  EXPECT_FALSE(again.transport->isClosed());
}

TEST_F(BlueZPeripheralTest, BadInputLeavesTheSessionAlone) {
  advertise();
  auto ann = connectPhone("5C:F3:70:00:00:0A", 517);

  // Subscribing twice (through BlueZ, and straight at the characteristic)
  // starts nothing new.
  bluez.subscribe(ann.device);
  std::string outboundPath;
  for (const auto& [path, interfaces] : bluez.application()) {
    auto it = interfaces.find("org.bluez.GattCharacteristic1");
    if (it != interfaces.end() && it->second.at("UUID").get<std::string>() == outboundUUID) outboundPath = path;
  }
  auto outbound = bluez.bus()->proxy(bluez.bus()->raw().getUniqueName(), outboundPath);
  for (int i = 0; i < 2; ++i) {
    runAwaitable(io, bluez.bus()->call(*outbound, outbound->createMethodCall("org.bluez.GattCharacteristic1",
                                                                             "StartNotify")));
  }

  // An empty value is taken and carries nothing; the outbound
  // characteristic takes no writes.
  bluez.write(ann.device, Bytes{});
  EXPECT_THROW(bluez.write(ann.device, Bytes{5}, outboundUUID), DBusError);

  bluez.write(ann.device, Bytes{6});
  EXPECT_EQ(receive(*ann.transport, 1), Bytes{6});
  EXPECT_FALSE(ann.transport->isClosed());
}

TEST_F(BlueZPeripheralTest, NotificationsWaitForBlueZToTakeThem) {
  advertise();
  MockCentralLink link(io, bluez, bluez.connect("5C:F3:70:00:00:0C", 23), 23);
  link.start();
  runAwaitable(io, link.send(Bytes{1}, Channel::reliable));
  auto transport = nextConnection();

  // Measured before BlueZ could answer anything: only a window's worth of
  // 20-byte notifications went out.
  auto sendAndMeasure = [](std::shared_ptr<BLETransport> t) -> asio::awaitable<std::size_t> {
    Bytes data = counting(800);
    co_await t->send(std::move(data), Channel::reliable);
    co_return t->pendingBytes();
  };
  EXPECT_EQ(runAwaitable(io, sendAndMeasure(transport)), 800 - BlueZPeripheralManager::notificationWindow * 20);
  EXPECT_EQ(receive(link, 800), counting(800));
  EXPECT_EQ(transport->pendingBytes(), 0u);
}

TEST_F(BlueZPeripheralTest, BlueZLeavingEndsTheLinkAndItsReturnRepublishes) {
  advertise();
  auto ann = connectPhone("5C:F3:70:00:00:0A", 185);

  bluez.stop();
  EXPECT_TRUE(reaches(State::unsupported));
  EXPECT_TRUE(ann.transport->isClosed());
  EXPECT_TRUE(logger.has("Bluetooth LE unavailable: BlueZ is not running on the system bus"));

  bluez.start();
  bluez.addAdapter("hci0");
  EXPECT_TRUE(reaches(State::advertising));
  EXPECT_FALSE(bluez.application().empty());
  EXPECT_FALSE(bluez.advertisement().empty());
}

TEST_F(BlueZPeripheralTest, RefusalsFromBlueZShowInTheState) {
  struct Case {
    std::string method;
    std::string error;
    std::vector<State> expected;
  };
  const std::vector<Case> cases = {
      // A policy that keeps this user out.
      {"RegisterApplication", "org.freedesktop.DBus.Error.AccessDenied", {State::unauthorised}},
      // No advertising slot left: not advertising after all.
      {"RegisterAdvertisement", "org.bluez.Error.NotPermitted", {State::advertising, State::idle}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    recorder = Task();
    host = std::make_unique<BLEPeripheralHost>(io.get_executor(), "Desk",
                                               BlueZPeripheralManager::factory(bluez.bus(), logger));
    states.clear();
    recorder = Task(io.get_executor(), record(host->states(), states));
    bluez.refuse(c.method, c.error);
    host->start();
    ASSERT_TRUE(runUntil(io, [&] { return states.size() >= c.expected.size(); }));
    EXPECT_EQ(states, c.expected);
  }
}

TEST_F(BlueZPeripheralTest, StopAndDestructionTakeEverythingBack) {
  advertise();
  host->stop();
  ASSERT_TRUE(reaches(State::idle));
  ASSERT_TRUE(runUntil(io, [&] { return bluez.application().empty() && bluez.advertisement().empty(); }));

  host->start();
  ASSERT_TRUE(reaches(State::advertising));
  ASSERT_FALSE(bluez.advertisement().empty());
  // Gone with the host, while the bus connection stays: the requests to
  // take them back go first on the connection the test asks on.
  host.reset();
  EXPECT_TRUE(bluez.application().empty());
  EXPECT_TRUE(bluez.advertisement().empty());
}

}  // namespace
}  // namespace glidemate
