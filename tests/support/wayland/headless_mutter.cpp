#include "tests/support/wayland/headless_mutter.hpp"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <stdexcept>

namespace glidemate::testing {

HeadlessMutter::HeadlessMutter(Options options) {
  // Wayland and PipeWire refuse a runtime folder others can read.
  chmod(runtime_.path().c_str(), 0700);
  if (!options.keyboardLayout.empty()) {
    system_ = std::make_unique<PrivateBus>(PrivateBus::Type::system);
    system_->startMock({"-t", GLIDEMATE_LOCALE1_TEMPLATE, "-p", "{\"X11Layout\": \"" + options.keyboardLayout + "\"}"},
                       "org.freedesktop.locale1");
  }
  if (options.pipewire) {
    pipewire_ = std::make_unique<ChildProcess>(std::vector<std::string>{"pipewire"}, daemonEnvironment());
    wireplumber_ = std::make_unique<ChildProcess>(std::vector<std::string>{"wireplumber"}, daemonEnvironment());
  }
  startMutter();
}

HeadlessMutter::~HeadlessMutter() {
  // mutter 43 can spin for ever in its own clean-up after SIGTERM, and
  // nothing it holds needs to outlive it.
  if (mutter_) stopMutter();
  wireplumber_.reset();
  pipewire_.reset();
}

std::vector<std::string> HeadlessMutter::daemonEnvironment() const {
  return {
      "XDG_RUNTIME_DIR=" + runtime_.path().string(),
      "HOME=" + home_.path().string(),
      "XDG_CONFIG_HOME=" + home_ / "config",
      "XDG_DATA_HOME=" + home_ / "data",
      "XDG_CACHE_HOME=" + home_ / "cache",
      session_.environment(),
      // Without a mock localed, no system bus at all rather than the
      // machine's.
      system_ ? system_->environment() : "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + home_ / "no-system-bus",
      "GSETTINGS_BACKEND=memory",
      "DISPLAY=",
      "WAYLAND_DISPLAY=",
      "NO_AT_BRIDGE=1",
  };
}

std::vector<std::string> HeadlessMutter::environment() const {
  return {
      "XDG_RUNTIME_DIR=" + runtime_.path().string(),
      "WAYLAND_DISPLAY=wayland-0",
      "XDG_SESSION_TYPE=wayland",
      "XDG_CURRENT_DESKTOP=GNOME",
      session_.environment(),
      "DISPLAY=",
  };
}

void HeadlessMutter::adoptEnvironment() const {
  for (const auto& entry : environment()) {
    const auto equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
}

void HeadlessMutter::startMutter() {
  mutter_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
                               std::to_string(width) + "x" + std::to_string(height)},
      daemonEnvironment());
  session_.waitForName("org.gnome.Mutter.RemoteDesktop", std::chrono::seconds(60));
  if (!std::filesystem::exists(runtime_.path() / "wayland-0")) {
    throw std::runtime_error("mutter serves on the bus but has no Wayland socket");
  }
}

void HeadlessMutter::stopMutter() {
  // As a crash would: nothing is closed on the way out.
  kill(mutter_->pid(), SIGKILL);
  mutter_.reset();
}

std::unique_ptr<ChildProcess> startWaylandTestClient(const HeadlessMutter& mutter) {
  return std::make_unique<ChildProcess>(std::vector<std::string>{GLIDEMATE_WAYLAND_TEST_CLIENT},
                                        mutter.environment(), true, true);
}

}  // namespace glidemate::testing
