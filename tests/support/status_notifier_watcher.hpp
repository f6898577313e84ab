// Test helper: a tray's StatusNotifierWatcher (python3-dbusmock) on a
// private session bus, stopped when its owner goes away.
#pragma once

#include <memory>

#include "tests/support/child_process.hpp"
#include "tests/support/private_bus.hpp"

namespace glidemate::testing {

class StatusNotifierWatcher {
 public:
  static constexpr const char* service = "org.kde.StatusNotifierWatcher";

  // Returns once the watcher owns its name on `bus`, ready to register
  // items.
  explicit StatusNotifierWatcher(const PrivateBus& bus);

 private:
  std::unique_ptr<ChildProcess> mock_;
};

}  // namespace glidemate::testing
