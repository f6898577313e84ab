#pragma once

#include <string_view>

namespace glidemate {

// How a phone is connected: over the local network, a USB cable or
// Bluetooth LE.
enum class TransportKind { lan, usb, ble };

// The kind's textual value, as it appears in status lines and logs.
constexpr std::string_view rawValue(TransportKind kind) {
  switch (kind) {
    case TransportKind::lan:
      return "lan";
    case TransportKind::usb:
      return "usb";
    case TransportKind::ble:
      return "ble";
  }
  return "lan";
}

}  // namespace glidemate
