#include "host/services/bluetooth/bluetooth_service.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "host/services/bluetooth/fake_bluetooth_system.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runAwaitable;
using Device = BluetoothSystem::Device;

class BluetoothServiceTest : public ::testing::Test {
 protected:
  asio::io_context io;
  std::shared_ptr<FakeBluetoothSystem> system = std::make_shared<FakeBluetoothSystem>(std::vector<Device>{
      {"/mouse", "aa-bb-cc-dd-ee-01", "mouse", true, std::nullopt},
      {"/keyboard", "AA:BB:CC:DD:EE:02", "Keyboard", false, std::nullopt},
      {"/airpods", "AA:BB:CC:DD:EE:03", "airpods", true, 80},
  });
  BluetoothService service{system};

  std::vector<BluetoothDeviceInfo> devices() { return runAwaitable(io, service.devices()); }
  bool connect(const std::string& address) { return runAwaitable(io, service.connect(address)); }
  bool disconnect(const std::string& address) { return runAwaitable(io, service.disconnect(address)); }
};

TEST_F(BluetoothServiceTest, ConnectedDevicesComeFirstThenByName) {
  EXPECT_EQ(devices(), (std::vector<BluetoothDeviceInfo>{
                           {"AA:BB:CC:DD:EE:03", "airpods", true, 80},
                           {"aa-bb-cc-dd-ee-01", "mouse", true, std::nullopt},
                           {"AA:BB:CC:DD:EE:02", "Keyboard", false, std::nullopt},
                       }));
}

TEST(BluetoothServiceSort, NamesSortAsPeopleReadThem) {
  // Case does not count, accents come after their plain letter, and equal
  // names keep the stack's order.
  std::vector<BluetoothDeviceInfo> devices{
      {"1", "Zebra", false, {}}, {"2", "éclair", false, {}}, {"3", "apple", false, {}},
      {"4", "Eclair", false, {}}, {"5", "APPLE", false, {}}, {"6", "zoo", true, {}},
  };
  BluetoothService::sortForDisplay(devices);
  std::vector<std::string> order;
  for (const auto& d : devices) order.push_back(d.address);
  EXPECT_EQ(order, (std::vector<std::string>{"6", "3", "5", "4", "2", "1"}));
}

TEST_F(BluetoothServiceTest, ADeviceWithoutANameShowsItsAddress) {
  system->devices = {{"/a", "AA:BB:CC:DD:EE:04", std::nullopt, false, std::nullopt},
                     {"/b", "AA:BB:CC:DD:EE:05", "", false, std::nullopt},
                     {"/c", "", "no address", false, std::nullopt}};
  EXPECT_EQ(devices(), (std::vector<BluetoothDeviceInfo>{{"AA:BB:CC:DD:EE:04", "AA:BB:CC:DD:EE:04", false, {}},
                                                         {"AA:BB:CC:DD:EE:05", "AA:BB:CC:DD:EE:05", false, {}}}));
}

TEST_F(BluetoothServiceTest, AnyWayOfWritingTheAddressFindsTheDevice) {
  EXPECT_EQ(BluetoothService::normalisedAddress("aa-bb-cc-dd-ee-ff"), "AABBCCDDEEFF");
  EXPECT_EQ(BluetoothService::normalisedAddress("AA:BB:CC:DD:EE:FF"), "AABBCCDDEEFF");
  EXPECT_EQ(BluetoothService::normalisedAddress(" aa bb\tcc:dd.ee-ff\n"), "AABBCCDDEEFF");

  EXPECT_TRUE(connect("aa:bb:cc:dd:ee:02"));
  EXPECT_TRUE(disconnect("AABBCCDDEE01"));
  EXPECT_EQ(system->connected, std::vector<std::string>{"/keyboard"});
  EXPECT_EQ(system->disconnected, std::vector<std::string>{"/mouse"});
  system->succeeds = false;
  EXPECT_FALSE(connect("AA:BB:CC:DD:EE:01"));
}

TEST_F(BluetoothServiceTest, AnAddressThatIsNotPairedIsNotTried) {
  for (const char* address : {"AA:BB:CC:DD:EE:99", "", "not an address", "AA:BB:CC:DD:EE:0"}) {
    EXPECT_FALSE(connect(address)) << address;
    EXPECT_FALSE(disconnect(address)) << address;
  }
  EXPECT_TRUE(system->connected.empty());
  EXPECT_TRUE(system->disconnected.empty());
}

TEST(BluetoothServiceWithoutStack, HasNoDevicesAndConnectsNothing) {
  asio::io_context io;
  BluetoothService service(nullptr);
  EXPECT_TRUE(runAwaitable(io, service.devices()).empty());
  EXPECT_FALSE(runAwaitable(io, service.connect("AA:BB:CC:DD:EE:01")));
}

}  // namespace
}  // namespace glidemate::host
