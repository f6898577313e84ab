#pragma once

#include <stdexcept>
#include <string>

namespace glidemate {

// A D-Bus failure as the bus or the peer named it: an error reply, a
// missing bus or service, a peer that went away, a call that timed out.
// Services treat every one of them as "that facility is unavailable now".
class DBusError : public std::runtime_error {
 public:
  // The names this library raises itself, beside those of error replies.
  static constexpr const char* disconnected = "org.freedesktop.DBus.Error.Disconnected";
  // What sd-bus itself reports for a call that got no reply in time.
  static constexpr const char* noReply = "org.freedesktop.DBus.Error.NoReply";
  static constexpr const char* failed = "org.freedesktop.DBus.Error.Failed";

  DBusError(std::string name, std::string message);

  const std::string& name() const { return name_; }
  const std::string& message() const { return message_; }

  friend bool operator==(const DBusError& a, const DBusError& b) {
    return a.name_ == b.name_ && a.message_ == b.message_;
  }

 private:
  std::string name_;
  std::string message_;
};

}  // namespace glidemate
