#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "kit/transport/usbmux/usbmux_device.hpp"

namespace glidemate {

// What a packet from the daemon says, read by its "MessageType".
struct USBMuxResponse {
  struct Result {
    std::int64_t code;
    bool operator==(const Result&) const = default;
  };
  struct Attached {
    USBMuxDevice device;
    bool operator==(const Attached&) const = default;
  };
  struct Detached {
    std::uint32_t deviceId;
    bool operator==(const Detached&) const = default;
  };
  // Any other message type, by name.
  struct Other {
    std::string name;
    bool operator==(const Other&) const = default;
  };
  using Case = std::variant<Result, Attached, Detached, Other>;

  Case value;

  template <class T>
    requires std::constructible_from<Case, T>
  USBMuxResponse(T c) : value(std::move(c)) {}  // NOLINT: every case converts implicitly

  bool operator==(const USBMuxResponse&) const = default;
};

}  // namespace glidemate
