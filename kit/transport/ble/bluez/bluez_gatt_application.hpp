#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IObject.h>
#include <sdbus-c++/Message.h>
#include <string>
#include <vector>

#include "kit/transport/ble/ble_peripheral_manager.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// One GATT service exported the way BlueZ's GattManager1 takes it: an
// object manager at the root, the service object below it, and one object
// per characteristic below that. BlueZ reads the tree when the application
// is registered and then calls the characteristics' methods.
//
// Exported on construction, withdrawn on destruction.
class BlueZGattApplication {
 public:
  // A value a central wrote, as BlueZ hands it over.
  struct Write {
    std::string characteristic;
    Bytes value;
    // The writing device's object path; empty when BlueZ does not say.
    std::string device;
    // The link's negotiated ATT MTU, when BlueZ says.
    std::optional<std::uint16_t> mtu;
  };
  struct Handlers {
    // `call` is answered by the receiver, now or later.
    std::function<void(const Write& write, sdbus::MethodCall call)> written;
    std::function<void(const std::string& characteristic)> notifyStarted;
    std::function<void(const std::string& characteristic)> notifyStopped;
  };

  // The longest attribute value ATT allows; BlueZ cuts a longer Value to
  // it before notifying.
  static constexpr std::size_t maximumValueLength = 512;

  BlueZGattApplication(sdbus::IConnection& connection, std::string root,
                       const BLEPeripheralManager::Service& service, Handlers handlers);
  ~BlueZGattApplication();
  BlueZGattApplication(const BlueZGattApplication&) = delete;
  BlueZGattApplication& operator=(const BlueZGattApplication&) = delete;

  const std::string& path() const { return root_; }

  // Sets a notifying characteristic's value; BlueZ sends it to every
  // central subscribed to it. False for a characteristic that does not
  // notify.
  bool notify(const std::string& characteristic, const Bytes& value);

  // Answers a method call with success, unless its caller asked for no
  // answer.
  static void succeed(const sdbus::MethodCall& call);

  // BlueZ's flags for a characteristic's properties. Reading and writing
  // are allowed by these flags alone; the permissions ask for nothing more
  // (no encryption or authorisation), so they add none.
  static std::vector<std::string> flags(const BLEPeripheralManager::CharacteristicProperties& properties);

 private:
  struct Characteristic {
    std::unique_ptr<sdbus::IObject> object;
    bool notifies = false;
    Bytes value;
  };

  void exportCharacteristic(sdbus::IConnection& connection, const std::string& path, const std::string& servicePath,
                            const BLEPeripheralManager::Characteristic& characteristic);
  void write(const std::string& characteristic, sdbus::MethodCall call);

  std::string root_;
  Handlers handlers_;
  std::unique_ptr<sdbus::IObject> manager_;
  std::unique_ptr<sdbus::IObject> service_;
  std::map<std::string, Characteristic> characteristics_;
};

}  // namespace glidemate
