#include "tests/support/dns_sd_daemons.hpp"

#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <stdexcept>

#include "tests/support/private_bus.hpp"

namespace glidemate::testing {
namespace {

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

class PrivateSystemBus {
 public:
  PrivateSystemBus() {
    write(bus_.folder() / "avahi.conf", R"([server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
)");
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_.address().c_str(), 1);
  }

  std::filesystem::path avahiConfig() const { return bus_.folder() / "avahi.conf"; }

 private:
  PrivateBus bus_{PrivateBus::Type::system};
};

PrivateSystemBus& systemBus() {
  static PrivateSystemBus bus;
  return bus;
}

// avahi-daemon refuses to start while its pid file names a live process,
// and reads an empty file (left by a daemon killed as it started) as
// process 0, which always "lives".
void removeStalePidFile() {
  const std::filesystem::path file = "/run/avahi-daemon/pid";
  std::ifstream in(file);
  pid_t pid = 0;
  if (in && in >> pid && pid > 0 && ::kill(pid, 0) == 0) return;
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

}  // namespace

DnsSdDaemons::DnsSdDaemons() : config_(systemBus().avahiConfig()) {
  std::filesystem::create_directories("/run/avahi-daemon");
  startAvahi();
}

DnsSdDaemons::~DnsSdDaemons() { stopAvahi(); }

void DnsSdDaemons::startAvahi() {
  removeStalePidFile();
  // Clients need not wait for it: they connect whenever it appears on the bus.
  avahi_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "avahi-daemon", "--file=" + config_.string(), "--no-drop-root", "--no-chroot",
      "--no-rlimits", "--no-proc-title"});
}

void DnsSdDaemons::stopAvahi() { avahi_.reset(); }

}  // namespace glidemate::testing
