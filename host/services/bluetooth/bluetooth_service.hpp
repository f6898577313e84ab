#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/services/bluetooth/bluetooth_system.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// Lists the paired Bluetooth devices for the phone (connected ones first,
// then by name as people sort them) and connects or disconnects one by its
// address, whatever way the address is written. Main executor only.
class BluetoothService {
 public:
  // Null: this computer has no Bluetooth stack to ask; it has no devices,
  // and connecting fails.
  explicit BluetoothService(std::shared_ptr<BluetoothSystem> system);

  asio::awaitable<std::vector<BluetoothDeviceInfo>> devices();
  // False when no paired device has that address (the stack is then not
  // asked) or the stack did not manage it.
  asio::awaitable<bool> connect(std::string address);
  asio::awaitable<bool> disconnect(std::string address);

  // The address in upper case with only its hexadecimal digits, so that
  // aa-bb-cc-dd-ee-ff and AA:BB:CC:DD:EE:FF compare equal.
  static std::string normalisedAddress(std::string_view address);
  // Connected devices first, then by name: case-insensitive and in the
  // order of the user's language. Devices that compare equal keep their
  // order.
  static void sortForDisplay(std::vector<BluetoothDeviceInfo>& devices);

 private:
  // The paired device with that address, if any.
  static asio::awaitable<std::optional<BluetoothSystem::Device>> find(std::shared_ptr<BluetoothSystem> system,
                                                                      std::string address);

  std::shared_ptr<BluetoothSystem> system_;
};

}  // namespace glidemate::host
