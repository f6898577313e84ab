// Test helper: a private D-Bus session bus, and a tray's StatusNotifierWatcher
// on it (python3-dbusmock), each stopped when its owner goes away.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/child_process.hpp"

namespace glidemate::testing {

class SessionBus {
 public:
  // Blocks until the bus accepts connections; throws if it can't start.
  SessionBus();
  ~SessionBus();
  // For DBUS_SESSION_BUS_ADDRESS.
  const std::string& address() const { return address_; }
  // Blocks until `name` has an owner on the bus.
  void waitForName(const std::string& name) const;

 private:
  std::filesystem::path dir_;
  std::unique_ptr<ChildProcess> daemon_;
  std::string address_;
};

class StatusNotifierWatcher {
 public:
  // Blocks until the watcher owns its name on `bus`.
  explicit StatusNotifierWatcher(const SessionBus& bus);
  static constexpr const char* service = "org.kde.StatusNotifierWatcher";

 private:
  std::unique_ptr<ChildProcess> mock_;
};

}  // namespace glidemate::testing
