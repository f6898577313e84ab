#include "tests/support/session_bus.hpp"

#include <stdlib.h>

#include <stdexcept>

namespace glidemate::testing {

SessionBus::SessionBus() {
  char pattern[] = "/tmp/glidemate-bus-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  daemon_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
                               "--address=unix:path=" + (dir_ / "bus").string()},
      std::vector<std::string>{}, true);
  // The address is printed once the bus accepts connections.
  address_ = daemon_->readLine();
  if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
}

SessionBus::~SessionBus() {
  daemon_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void SessionBus::waitForName(const std::string& name) const {
  const auto waited = runProgram({"env", "DBUS_SESSION_BUS_ADDRESS=" + address_, "gdbus", "wait", "--session",
                                  "--timeout", "30", name});
  if (waited.status != 0) throw std::runtime_error(name + " did not appear on the bus: " + waited.err);
}

StatusNotifierWatcher::StatusNotifierWatcher(const SessionBus& bus) {
  mock_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", GLIDEMATE_TEST_SUPPORT_DIR "/status_notifier_watcher.py"},
      std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
  bus.waitForName(service);
}

}  // namespace glidemate::testing
