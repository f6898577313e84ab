#pragma once

#include <chrono>
#include <memory>

#include "host/services/bluetooth/bluetooth_system.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate {
class DBusConnection;
}

namespace glidemate::host {

// BlueZ on the system bus: the paired devices are the org.bluez.Device1
// objects of its object manager whose Paired is true, with the battery of
// org.bluez.Battery1 on the same object; connecting calls Device1.Connect.
// Properties of an unexpected type count as absent. A missing BlueZ or bus
// is logged once (and again after it came back and went again).
class BlueZBluetoothSystem final : public BluetoothSystem {
 public:
  struct Options {
    // For listing the devices.
    std::chrono::milliseconds listTimeout{5000};
    // For one connect or disconnect; radios can take this long to page a
    // device that is out of reach.
    std::chrono::milliseconds connectTimeout{30000};
  };

  BlueZBluetoothSystem(std::shared_ptr<DBusConnection> bus, Logger& logger, Options options);
  BlueZBluetoothSystem(std::shared_ptr<DBusConnection> bus, Logger& logger)
      : BlueZBluetoothSystem(std::move(bus), logger, Options{}) {}

  asio::awaitable<std::vector<Device>> pairedDevices() override;
  asio::awaitable<bool> connect(const Device& device) override;
  asio::awaitable<bool> disconnect(const Device& device) override;

 private:
  struct State;

  static asio::awaitable<bool> callDevice(std::shared_ptr<State> state, std::string path, const char* method);

  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
