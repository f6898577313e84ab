#include "kit/transport/usbmux/usbmux_error.hpp"

#include <string>

#include "kit/wire/overload.hpp"

namespace glidemate {
namespace {

std::string describe(const USBMuxError::Case& c) {
  return std::visit(
      Overload{
          [](const USBMuxError::PayloadTooLarge& e) {
            return "usbmuxd packet payload too large (" + std::to_string(e.length) + " bytes)";
          },
          [](const USBMuxError::UnsupportedVersion& e) {
            return "usbmuxd packet has unsupported version " + std::to_string(e.version);
          },
          [](const USBMuxError::Refused& e) {
            return "usbmuxd refused the connection (result " + std::to_string(e.code) + ")";
          },
          [](const USBMuxError::MalformedPacket&) { return std::string("malformed usbmuxd packet"); },
          [](const USBMuxError::DaemonUnavailable&) { return std::string("usbmuxd is not available"); },
          [](const USBMuxError::ConnectFailed&) { return std::string("usbmuxd did not answer the connection request"); },
      },
      c);
}

}  // namespace

USBMuxError::USBMuxError(Case c) : std::runtime_error(describe(c)), case_(std::move(c)) {}

}  // namespace glidemate
