#pragma once

#include "host/services/bluetooth/bluetooth_system.hpp"

namespace glidemate::host {

// A Bluetooth stack for tests: the devices a test lists, the references it
// was asked to connect or disconnect, and the answer it gives to those.
// Connecting a listed device marks it connected, disconnecting clears it.
class FakeBluetoothSystem final : public BluetoothSystem {
 public:
  explicit FakeBluetoothSystem(std::vector<Device> paired = {}) : devices(std::move(paired)) {}

  asio::awaitable<std::vector<Device>> pairedDevices() override;
  asio::awaitable<bool> connect(const Device& device) override;
  asio::awaitable<bool> disconnect(const Device& device) override;

  std::vector<Device> devices;
  bool succeeds = true;
  std::vector<std::string> connected;
  std::vector<std::string> disconnected;

 private:
  bool mark(const std::string& reference, bool isConnected);
};

}  // namespace glidemate::host
