#include "tests/support/status_notifier_watcher.hpp"

namespace glidemate::testing {

StatusNotifierWatcher::StatusNotifierWatcher(const PrivateBus& bus) {
  mock_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", GLIDEMATE_TEST_SUPPORT_DIR "/status_notifier_watcher.py"},
      std::vector<std::string>{bus.environment()});
  bus.waitForName(service);
}

}  // namespace glidemate::testing
