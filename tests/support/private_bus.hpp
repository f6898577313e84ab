// Test helper: a private D-Bus daemon (session or system type) on a socket
// in a temporary folder, with helpers to put python-dbusmock services on it.
// Stopped, with every mock started through it, when its owner goes away.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"

namespace glidemate::testing {

class PrivateBus {
 public:
  enum class Type { session, system };

  // Blocks until the bus accepts connections; throws if it can't start.
  explicit PrivateBus(Type type = Type::session);
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  Type type() const { return type_; }
  // "unix:path=..."
  const std::string& address() const { return address_; }
  // The variable a client reads this bus's address from, with its value:
  // "DBUS_SESSION_BUS_ADDRESS=unix:path=..." (or the system one).
  std::string environment() const;
  const std::filesystem::path& folder() const { return folder_; }

  // Starts `python3 -m dbusmock` with `arguments` (a template, or a name,
  // path and interface) on this bus, and returns once `busName` is owned
  // there. The mock lives as long as this bus.
  void startMock(const std::vector<std::string>& arguments, const std::string& busName);

  // Blocks until `name` has an owner on this bus; throws after `limit`.
  void waitForName(const std::string& name, std::chrono::seconds limit = std::chrono::seconds(30)) const;

  // Stops every mock started so far, as if their services had crashed;
  // the bus goes on.
  void stopMocks() { mocks_.clear(); }

  // Stops the daemon (and its mocks) as if it had crashed.
  void stop();

 private:
  Type type_;
  std::filesystem::path folder_;
  std::string address_;
  std::unique_ptr<ChildProcess> daemon_;
  std::vector<std::unique_ptr<ChildProcess>> mocks_;
};

}  // namespace glidemate::testing
