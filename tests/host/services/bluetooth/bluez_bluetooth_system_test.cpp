#include "host/services/bluetooth/bluez/bluez_bluetooth_system.hpp"

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "host/services/bluetooth/bluetooth_service.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/support/bluez_devices_mock.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::BlueZDevicesMock;
using glidemate::testing::PrivateBus;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;
using Device = BluetoothSystem::Device;

class RecordingLogger final : public Logger {
 public:
  void log(std::string_view category, std::string_view message) override {
    lines.push_back(std::string(category) + ": " + std::string(message));
  }
  std::vector<std::string> lines;
};

class BlueZTest : public ::testing::Test {
 protected:
  asio::io_context io;
  PrivateBus bus{PrivateBus::Type::system};
  RecordingLogger logger;
  std::shared_ptr<DBusConnection> connection = DBusConnection::openAddress(io.get_executor(), bus.address());

  static Device device(const std::string& path) { return Device{path, "X", std::nullopt, false, std::nullopt}; }

  std::shared_ptr<BlueZBluetoothSystem> system(BlueZBluetoothSystem::Options options = {}) {
    return std::make_shared<BlueZBluetoothSystem>(connection, logger, options);
  }
};

TEST_F(BlueZTest, PairedDevicesAreListedWithTheirBatteryAndConnect) {
  BlueZDevicesMock bluez(bus);
  bluez.addPaired("AA:BB:CC:DD:EE:01", "mouse");
  bluez.connect("AA:BB:CC:DD:EE:01");
  bluez.addPaired("AA:BB:CC:DD:EE:02", "Keyboard");
  const auto airpods = bluez.addPaired("AA:BB:CC:DD:EE:03", "airpods");
  bluez.connect("AA:BB:CC:DD:EE:03");
  bluez.addBattery(airpods, sdbus::Variant(std::uint8_t{80}));
  bluez.addUnpaired("AA:BB:CC:DD:EE:04", "a stranger's phone");

  BluetoothService service(system());
  EXPECT_EQ(runAwaitable(io, service.devices()), (std::vector<BluetoothDeviceInfo>{
                                                     {"AA:BB:CC:DD:EE:03", "airpods", true, 80},
                                                     {"AA:BB:CC:DD:EE:01", "mouse", true, std::nullopt},
                                                     {"AA:BB:CC:DD:EE:02", "Keyboard", false, std::nullopt},
                                                 }));

  EXPECT_TRUE(runAwaitable(io, service.connect("aa-bb-cc-dd-ee-02")));
  EXPECT_TRUE(runAwaitable(io, service.disconnect("AA:BB:CC:DD:EE:01")));
  const auto after = runAwaitable(io, service.devices());
  ASSERT_EQ(after.size(), 3U);
  EXPECT_EQ(after[1], (BluetoothDeviceInfo{"AA:BB:CC:DD:EE:02", "Keyboard", true, std::nullopt}));
  EXPECT_EQ(after[2], (BluetoothDeviceInfo{"AA:BB:CC:DD:EE:01", "mouse", false, std::nullopt}));
  // The stranger's phone is not paired: not listed, not connected.
  EXPECT_FALSE(runAwaitable(io, service.connect("AA:BB:CC:DD:EE:04")));
}

TEST_F(BlueZTest, PropertiesOfTheWrongTypeCountAsAbsent) {
  BlueZDevicesMock bluez(bus);
  const auto odd = bluez.addPaired("AA:BB:CC:DD:EE:05", "odd");
  bluez.addBattery(odd, sdbus::Variant(std::string("80%")));
  bluez.addRaw("/org/bluez/hci0/dev_nameless",
               {{"Address", sdbus::Variant(std::string("AA:BB:CC:DD:EE:06"))},
                {"Paired", sdbus::Variant(true)},
                {"Alias", sdbus::Variant(std::int32_t{7})},
                {"Connected", sdbus::Variant(std::string("yes"))}});
  bluez.addRaw("/org/bluez/hci0/dev_numbered",
               {{"Address", sdbus::Variant(std::int32_t{42})}, {"Paired", sdbus::Variant(true)}});
  bluez.addRaw("/org/bluez/hci0/dev_halfpaired",
               {{"Address", sdbus::Variant(std::string("AA:BB:CC:DD:EE:07"))},
                {"Paired", sdbus::Variant(std::string("true"))}});

  const auto devices = runAwaitable(io, system()->pairedDevices());
  EXPECT_EQ(devices, (std::vector<Device>{
                         {"/org/bluez/hci0/dev_AA_BB_CC_DD_EE_05", "AA:BB:CC:DD:EE:05", "odd", false, std::nullopt},
                         {"/org/bluez/hci0/dev_nameless", "AA:BB:CC:DD:EE:06", std::nullopt, false, std::nullopt},
                     }));
}

TEST_F(BlueZTest, NoBlueZMeansNoDevicesAndNoConnection) {
  auto bluetooth = system();
  EXPECT_TRUE(runAwaitable(io, bluetooth->pairedDevices()).empty());
  EXPECT_TRUE(runAwaitable(io, bluetooth->pairedDevices()).empty());
  EXPECT_FALSE(runAwaitable(io, bluetooth->connect(device("/org/bluez/hci0/dev_X"))));
  // Said once, not at every request.
  EXPECT_EQ(std::count_if(logger.lines.begin(), logger.lines.end(),
                          [](const std::string& l) { return l.find("BlueZ did not answer") != std::string::npos; }),
            1);
  // A bus that goes away is the same.
  bus.stop();
  EXPECT_TRUE(runAwaitable(io, bluetooth->pairedDevices()).empty());
}

// A stack that takes a connection request and never answers it.
class SilentBlueZ {
 public:
  SilentBlueZ(asio::io_context& io, const std::string& address)
      : connection_(DBusConnection::openAddress(io.get_executor(), address)),
        device_(sdbus::createObject(connection_->raw(), "/org/bluez/hci0/dev_SILENT")) {
    device_->registerMethod("org.bluez.Device1", "Connect", "", "",
                            [this](sdbus::MethodCall call) { unanswered_.push_back(std::move(call)); });
    device_->finishRegistration();
    connection_->raw().requestName("org.bluez");
  }

 private:
  std::shared_ptr<DBusConnection> connection_;
  std::unique_ptr<sdbus::IObject> device_;
  std::vector<sdbus::MethodCall> unanswered_;
};

TEST_F(BlueZTest, ACallThatNeverAnswersGivesUpWithoutHoldingTheExecutor) {
  SilentBlueZ silent(io, bus.address());
  auto bluetooth = system({100ms, 100ms});
  std::optional<bool> connected;
  asio::co_spawn(io, bluetooth->connect(device("/org/bluez/hci0/dev_SILENT")),
                 [&](std::exception_ptr, bool result) { connected = result; });
  // Other work goes on while the call waits.
  bool otherWorkRan = false;
  asio::post(io, [&] { otherWorkRan = connected == std::nullopt; });
  ASSERT_TRUE(runUntil(io, [&] { return connected.has_value(); }));
  EXPECT_TRUE(otherWorkRan);
  EXPECT_FALSE(*connected);
}

}  // namespace
}  // namespace glidemate::host
