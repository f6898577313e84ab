#pragma once

// host/services/bluetooth: the paired Bluetooth devices the phone lists,
// connects and disconnects. BluetoothService holds the rules (names,
// addresses, order); BluetoothSystem is what it needs of the platform's
// Bluetooth stack (bluez/ on Linux, over D-Bus).

#include <asio/awaitable.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// The platform's Bluetooth stack. Used on the main executor; every call is
// awaited without blocking it. A stack that is missing or does not answer
// gives no devices, and connecting or disconnecting then fails; nothing
// here throws but the awaiting task's own cancellation.
class BluetoothSystem {
 public:
  struct Device {
    // Where the stack keeps the device, for connect and disconnect.
    std::string reference;
    // As the stack writes it.
    std::string address;
    // Absent when the device has no name.
    std::optional<std::string> name;
    bool isConnected = false;
    // The device's own battery, when the stack knows it.
    std::optional<std::int64_t> batteryPercent;
    bool operator==(const Device&) const = default;
  };

  virtual ~BluetoothSystem() = default;

  // The paired devices, in the stack's order.
  virtual asio::awaitable<std::vector<Device>> pairedDevices() = 0;
  // True when the stack reports that it connected (or disconnected) it.
  virtual asio::awaitable<bool> connect(const Device& device) = 0;
  virtual asio::awaitable<bool> disconnect(const Device& device) = 0;
};

}  // namespace glidemate::host
