// Test helper: BlueZ's paired devices as python-dbusmock's bluez5 template
// plays them, on a private system bus, with one adapter ("hci0"), set up
// through the mock's own methods. (The Bluetooth LE peripheral's tests have
// a mock of their own, of BlueZ as a GATT application meets it.)
#pragma once

#include <map>
#include <memory>
#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/Types.h>
#include <string>

#include "tests/support/private_bus.hpp"

namespace glidemate::testing {

class BlueZDevicesMock {
 public:
  // Starts the mock on `bus`, which must outlive this object.
  explicit BlueZDevicesMock(PrivateBus& bus);
  ~BlueZDevicesMock();

  // A paired device; its Connect and Disconnect change Connected as
  // BlueZ's do (the template's own leave the property alone). Returns its
  // object path.
  std::string addPaired(const std::string& address, const std::string& alias);
  std::string addUnpaired(const std::string& address, const std::string& alias);
  void connect(const std::string& address);
  void addBattery(const std::string& path, const sdbus::Variant& percentage);
  // A device object with exactly these properties, as a broken or foreign
  // stack might publish it.
  void addRaw(const std::string& path, const std::map<std::string, sdbus::Variant>& properties);

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
};

}  // namespace glidemate::testing
