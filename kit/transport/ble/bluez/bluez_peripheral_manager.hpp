// Bluetooth LE on Linux: the peripheral manager over BlueZ's D-Bus API on
// the system bus.
#pragma once

#include <asio/any_io_executor.hpp>
#include <cstddef>
#include <memory>

#include "kit/runtime/logger.hpp"
#include "kit/transport/ble/ble_peripheral_host.hpp"
#include "kit/transport/ble/ble_peripheral_manager.hpp"

namespace glidemate {

class DBusConnection;

// The peripheral role through BlueZ: the radio is the first adapter (its
// presence and power), the service is a GATT application registered with
// GattManager1, the advertisement an LEAdvertisement1 registered with
// LEAdvertisingManager1, and notifications are changes of the outbound
// characteristic's Value.
//
// BlueZ does not say which central subscribed (StartNotify carries no
// device), only which one wrote (WriteValue's "device" and "mtu" options).
// Since a phone always subscribes and then speaks first, a central counts
// as subscribed from its first write while notifications are on, with the
// link's MTU from that write; a central that was displaced by another does
// not come back until it reconnects or subscribes anew. A central that
// disconnects, and every central when the adapter or BlueZ goes away, is
// reported as unsubscribed.
//
// Lives on the bus's executor and is used only from it.
class BlueZPeripheralManager final : public BLEPeripheralManager {
 public:
  // Notifications sent to BlueZ but not yet taken by it, beyond which
  // updateValue refuses until they drain.
  static constexpr std::size_t notificationWindow = 8;

  BlueZPeripheralManager(const asio::any_io_executor& executor, Delegate& delegate,
                         std::shared_ptr<DBusConnection> systemBus, Logger& logger);
  // Takes back what is registered with BlueZ.
  ~BlueZPeripheralManager() override;
  BlueZPeripheralManager(const BlueZPeripheralManager&) = delete;
  BlueZPeripheralManager& operator=(const BlueZPeripheralManager&) = delete;

  // Fits BLEPeripheralHost::ManagerFactory, over `systemBus`.
  static BLEPeripheralHost::ManagerFactory factory(std::shared_ptr<DBusConnection> systemBus, Logger& logger);
  // BlueZ on the system bus; without a system bus, a manager that reports
  // the radio unsupported, which `logger` is told once.
  static BLEPeripheralHost::ManagerFactory forSystemBus(const asio::any_io_executor& executor, Logger& logger);

  void addService(const Service& service) override;
  void removeAllServices() override;
  void startAdvertising(const Advertisement& advertisement) override;
  void stopAdvertising() override;
  bool updateValue(const Bytes& value, const std::string& characteristic,
                   const std::string& centralIdentifier) override;
  void respondWithSuccess(const WriteRequest& request) override;

 private:
  class Link;
  std::unique_ptr<Link> link_;
};

}  // namespace glidemate
