#include "tests/support/wayland/headless_mutter.hpp"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace glidemate::testing {
namespace {

// Waits until `name` appears in `folder` (a daemon's socket), or throws
// once `limit` has passed.
void waitForFile(const std::filesystem::path& folder, const std::string& name, std::chrono::seconds limit) {
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0) throw std::runtime_error("no inotify");
  inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // Watched first, then looked for, so a file made in between is not missed.
  while (!std::filesystem::exists(folder / name)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      close(watch);
      throw std::runtime_error(name + " did not appear in " + folder.string());
    }
    pollfd descriptor{watch, POLLIN, 0};
    if (::poll(&descriptor, 1, static_cast<int>(left)) > 0) {
      char events[4096];
      [[maybe_unused]] const auto read = ::read(watch, events, sizeof events);
    }
  }
  close(watch);
}

}  // namespace

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
    // WirePlumber gives up at once when PipeWire is not listening yet.
    waitForFile(runtime_.path(), "pipewire-0", std::chrono::seconds(60));
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
