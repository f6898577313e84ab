#include "kit/dbus/dbus_error.hpp"

namespace glidemate {

namespace {

std::string describe(const std::string& name, const std::string& message) {
  if (message.empty()) return name;
  return message;
}

}  // namespace

DBusError::DBusError(std::string name, std::string message)
    : std::runtime_error(describe(name, message)), name_(std::move(name)), message_(std::move(message)) {}

}  // namespace glidemate
