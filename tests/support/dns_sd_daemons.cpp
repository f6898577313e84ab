#include "tests/support/dns_sd_daemons.hpp"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

namespace glidemate::testing {
namespace {

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

class PrivateSystemBus {
 public:
  PrivateSystemBus() {
    char pattern[] = "/tmp/glidemate-dnssd-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    const std::string socket = (dir_ / "bus").string();
    write(dir_ / "bus.conf", R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" + socket + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)");
    write(dir_ / "avahi.conf", R"([server]
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
    bus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(),
                                 "--nofork", "--nopidfile", "--print-address=1"},
        std::vector<std::string>{}, true);
    // The address is printed once the bus accepts connections.
    if (bus_->readLine().empty()) throw std::runtime_error("dbus-daemon did not start");
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
  }
  ~PrivateSystemBus() {
    bus_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::filesystem::path avahiConfig() const { return dir_ / "avahi.conf"; }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<ChildProcess> bus_;
};

PrivateSystemBus& systemBus() {
  static PrivateSystemBus bus;
  return bus;
}

}  // namespace

DnsSdDaemons::DnsSdDaemons() : config_(systemBus().avahiConfig()) {
  std::filesystem::create_directories("/run/avahi-daemon");
  startAvahi();
}

DnsSdDaemons::~DnsSdDaemons() { stopAvahi(); }

void DnsSdDaemons::startAvahi() {
  // Clients need not wait for it: they connect whenever it appears on the bus.
  avahi_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "avahi-daemon", "--file=" + config_.string(), "--no-drop-root", "--no-chroot",
      "--no-rlimits", "--no-proc-title"});
}

void DnsSdDaemons::stopAvahi() { avahi_.reset(); }

}  // namespace glidemate::testing
