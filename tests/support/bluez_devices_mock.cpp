#include "tests/support/bluez_devices_mock.hpp"

#include <sdbus-c++/sdbus-c++.h>

namespace glidemate::testing {
namespace {

constexpr const char* bluezMock = "org.bluez.Mock";
constexpr const char* dbusMock = "org.freedesktop.DBus.Mock";

}  // namespace

BlueZDevicesMock::BlueZDevicesMock(PrivateBus& bus) {
  // The mock's log goes to a file, not into the test's output.
  bus.startMock({"--template", "bluez5", "--logfile", (bus.folder() / "bluez-devices.log").string()}, "org.bluez");
  connection_ = sdbus::createSessionBusConnectionWithAddress(bus.address());
  sdbus::createProxy(*connection_, "org.bluez", "/")
      ->callMethod("AddAdapter")
      .onInterface(bluezMock)
      .withArguments("hci0", "desk");
}

BlueZDevicesMock::~BlueZDevicesMock() = default;

std::string BlueZDevicesMock::addUnpaired(const std::string& address, const std::string& alias) {
  std::string path;
  sdbus::createProxy(*connection_, "org.bluez", "/")
      ->callMethod("AddDevice")
      .onInterface(bluezMock)
      .withArguments("hci0", address, alias)
      .storeResultsTo(path);
  return path;
}

std::string BlueZDevicesMock::addPaired(const std::string& address, const std::string& alias) {
  const std::string path = addUnpaired(address, alias);
  sdbus::createProxy(*connection_, "org.bluez", "/")
      ->callMethod("PairDevice")
      .onInterface(bluezMock)
      .withArguments("hci0", address, std::int32_t{0x240418});
  auto device = sdbus::createProxy(*connection_, "org.bluez", path);
  for (const auto& [method, value] : {std::pair{"Connect", "True"}, std::pair{"Disconnect", "False"}}) {
    device->callMethod("AddMethod")
        .onInterface(dbusMock)
        .withArguments("org.bluez.Device1", method, "", "",
                       std::string("self.Set('org.bluez.Device1', 'Connected', dbus.Boolean(") + value +
                           ", variant_level=1))");
  }
  return path;
}

void BlueZDevicesMock::connect(const std::string& address) {
  sdbus::createProxy(*connection_, "org.bluez", "/")
      ->callMethod("ConnectDevice")
      .onInterface(bluezMock)
      .withArguments("hci0", address);
}

void BlueZDevicesMock::addBattery(const std::string& path, const sdbus::Variant& percentage) {
  sdbus::createProxy(*connection_, "org.bluez", path)
      ->callMethod("AddProperties")
      .onInterface(dbusMock)
      .withArguments("org.bluez.Battery1", std::map<std::string, sdbus::Variant>{{"Percentage", percentage}});
}

void BlueZDevicesMock::addRaw(const std::string& path, const std::map<std::string, sdbus::Variant>& properties) {
  sdbus::createProxy(*connection_, "org.bluez", "/")
      ->callMethod("AddObject")
      .onInterface(dbusMock)
      .withArguments(path, "org.bluez.Device1", properties,
                     std::vector<sdbus::Struct<std::string, std::string, std::string, std::string>>{});
}

}  // namespace glidemate::testing
