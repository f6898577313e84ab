#include "host/services/bluetooth/fake_bluetooth_system.hpp"

namespace glidemate::host {

asio::awaitable<std::vector<BluetoothSystem::Device>> FakeBluetoothSystem::pairedDevices() { co_return devices; }

bool FakeBluetoothSystem::mark(const std::string& reference, bool isConnected) {
  if (!succeeds) return false;
  for (auto& d : devices) {
    if (d.reference == reference) d.isConnected = isConnected;
  }
  return true;
}

asio::awaitable<bool> FakeBluetoothSystem::connect(const Device& device) {
  connected.push_back(device.reference);
  co_return mark(device.reference, true);
}

asio::awaitable<bool> FakeBluetoothSystem::disconnect(const Device& device) {
  disconnected.push_back(device.reference);
  co_return mark(device.reference, false);
}

}  // namespace glidemate::host
