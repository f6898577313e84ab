#pragma once

#include <cstdint>
#include <string>

namespace glidemate {

// A phone the multiplexer daemon knows of. The daemon also reports phones
// it reaches over the network; only those on a cable are dialled.
struct USBMuxDevice {
  std::uint32_t deviceId = 0;
  std::string serialNumber;
  std::string connectionType;

  bool isOverCable() const { return connectionType == "USB"; }

  bool operator==(const USBMuxDevice&) const = default;
  auto operator<=>(const USBMuxDevice&) const = default;
};

}  // namespace glidemate
