#pragma once

#include <asio/any_io_executor.hpp>
#include <memory>

#include "kit/transport/ble/ble_peripheral_manager.hpp"

namespace glidemate {

// The peripheral manager of a platform where the host cannot act as a
// Bluetooth LE peripheral (Linux, for now): it reports the radio as
// unsupported, once, and does nothing else.
class UnsupportedBLEPeripheralManager final : public BLEPeripheralManager {
 public:
  UnsupportedBLEPeripheralManager(const asio::any_io_executor& executor, Delegate& delegate);

  // Fits BLEPeripheralHost::ManagerFactory.
  static std::unique_ptr<BLEPeripheralManager> make(const asio::any_io_executor& executor, Delegate& delegate);

  void addService(const Service&) override {}
  void removeAllServices() override {}
  void startAdvertising(const Advertisement&) override {}
  void stopAdvertising() override {}
  bool updateValue(const Bytes&, const std::string&, const std::string&) override { return false; }
  void respondWithSuccess(const WriteRequest&) override {}

 private:
  // Lets the posted report see whether this manager still exists.
  std::shared_ptr<Delegate*> delegate_;
};

}  // namespace glidemate
