// Test helper: a private D-Bus system bus and an Avahi daemon that only uses
// the loopback interface (IPv4), so DNS-SD tests never touch a real network.
// The bus is started once per process and kept to its end (D-Bus reads
// DBUS_SYSTEM_BUS_ADDRESS only once per process); each DnsSdDaemons has an
// Avahi daemon of its own.
#pragma once

#include <filesystem>
#include <memory>

#include "tests/support/child_process.hpp"

namespace glidemate::testing {

class DnsSdDaemons {
 public:
  DnsSdDaemons();
  ~DnsSdDaemons();

  void startAvahi();
  void stopAvahi();

 private:
  std::filesystem::path config_;
  std::unique_ptr<ChildProcess> avahi_;
};

}  // namespace glidemate::testing
