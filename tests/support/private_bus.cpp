#include "tests/support/private_bus.hpp"

#include <poll.h>
#include <stdlib.h>

#include <fstream>
#include <sdbus-c++/sdbus-c++.h>
#include <stdexcept>

namespace glidemate::testing {

PrivateBus::PrivateBus(Type type) : type_(type) {
  char pattern[] = "/tmp/glidemate-bus-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  const std::string socket = (folder_ / "bus").string();
  address_ = "unix:path=" + socket;
  std::ofstream(folder_ / "bus.conf") << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>)" << (type == Type::session ? "session" : "system") << R"(</type>
  <listen>)" << address_ << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";
  daemon_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"dbus-daemon", "--config-file=" + (folder_ / "bus.conf").string(), "--nofork",
                               "--nopidfile", "--print-address=1"},
      std::vector<std::string>{}, true);
  // The address is printed once the bus accepts connections.
  if (daemon_->readLine().empty()) throw std::runtime_error("dbus-daemon did not start");
}

PrivateBus::~PrivateBus() {
  stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string PrivateBus::environment() const {
  return std::string(type_ == Type::session ? "DBUS_SESSION_BUS_ADDRESS=" : "DBUS_SYSTEM_BUS_ADDRESS=") + address_;
}

void PrivateBus::startMock(const std::vector<std::string>& arguments, const std::string& busName) {
  std::vector<std::string> argv{"/usr/bin/python3", "-m", "dbusmock"};
  if (type_ == Type::system) argv.push_back("--system");
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  mocks_.push_back(std::make_unique<ChildProcess>(argv, std::vector<std::string>{environment()}));
  waitForName(busName);
}

void PrivateBus::waitForName(const std::string& name, std::chrono::seconds limit) const {
  auto connection = sdbus::createSessionBusConnectionWithAddress(address_);
  bool owned = false;
  // Subscribe first, then ask, so an owner that comes in between is not missed.
  auto slot = connection->addMatch(
      "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" + name + "'",
      [&](sdbus::Message& message) {
        std::string changed, oldOwner, newOwner;
        message >> changed >> oldOwner >> newOwner;
        if (!newOwner.empty()) owned = true;
      });
  auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  auto ask = bus->createMethodCall("org.freedesktop.DBus", "NameHasOwner");
  ask << name;
  auto reply = bus->callMethod(ask);
  bool has = false;
  reply >> has;
  owned = owned || has;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!owned) {
    if (connection->processPendingRequest()) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error(name + " did not appear on the private bus");
    pollfd descriptor{connection->getEventLoopPollData().fd, POLLIN, 0};
    ::poll(&descriptor, 1, static_cast<int>(left.count()));
  }
}

void PrivateBus::stop() {
  mocks_.clear();
  daemon_.reset();
}

}  // namespace glidemate::testing
