#include "tests/support/wayland/headless_sway.hpp"

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace glidemate::testing {
namespace {

constexpr const char* user = "nobody";

const char* config =
    "xwayland disable\n"
    "output HEADLESS-1 mode 1440x900 position 0 0\n"
    "default_border none\n"
    "focus_follows_mouse no\n";

bool accepts(const std::filesystem::path& socketPath) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

HeadlessSway::HeadlessSway() {
  const passwd* account = getpwnam(user);
  if (account == nullptr) throw std::runtime_error(std::string("no user ") + user + " to run sway as");
  runtime_.write("config", config);
  // Wayland refuses a runtime folder others can read; sway's user owns it.
  chmod(runtime_.path().c_str(), 0700);
  for (const auto& entry : {runtime_.path(), runtime_.path() / "config"}) {
    if (chown(entry.c_str(), account->pw_uid, account->pw_gid) != 0) {
      throw std::runtime_error("cannot hand the runtime folder to " + std::string(user));
    }
  }
  startSway();
}

HeadlessSway::~HeadlessSway() { sway_.reset(); }

void HeadlessSway::startSway() {
  const std::string dir = runtime_.path().string();
  const passwd* account = getpwnam(user);
  if (account == nullptr) throw std::runtime_error(std::string("no user ") + user + " to run sway as");
  sway_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"setpriv", "--reuid=" + std::to_string(account->pw_uid),
                               "--regid=" + std::to_string(account->pw_gid),
                               "--clear-groups", "sway", "-c", dir + "/config"},
      std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir, "HOME=" + dir, "XDG_CONFIG_HOME=" + dir,
                               "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                               "WAYLAND_DISPLAY=", "DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=",
                               // Its control socket in its own folder: an empty name
                               // would be one abstract socket shared by every sway.
                               "SWAYSOCK=" + dir + "/sway-ipc.sock",
                               "XDG_SESSION_TYPE=wayland"});
  // sway names its socket wayland-1 upwards, and takes the same name again
  // after a crash.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& entry : std::filesystem::directory_iterator(runtime_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos && accepts(entry.path())) {
        display_ = name;
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("sway did not start");
}

void HeadlessSway::stopSway() {
  kill(sway_->pid(), SIGKILL);
  sway_.reset();
}

void HeadlessSway::command(const std::string& text) const {
  const auto result = runProgram({"swaymsg", "-s", (runtime_.path() / "sway-ipc.sock").string(), text});
  if (result.status != 0) throw std::runtime_error("swaymsg " + text + ": " + result.out + result.err);
}

void HeadlessSway::freeze(bool frozen) { kill(sway_->pid(), frozen ? SIGSTOP : SIGCONT); }

std::vector<std::string> HeadlessSway::environment() const {
  return {
      "XDG_RUNTIME_DIR=" + runtime_.path().string(),
      "WAYLAND_DISPLAY=" + display_,
      "XDG_SESSION_TYPE=wayland",
      "DISPLAY=",
  };
}

void HeadlessSway::adoptEnvironment() const {
  for (const auto& entry : environment()) {
    const auto equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
}

std::unique_ptr<ChildProcess> startWaylandTestClient(const HeadlessSway& sway, std::vector<std::string> options) {
  options.insert(options.begin(), GLIDEMATE_WAYLAND_TEST_CLIENT);
  return std::make_unique<ChildProcess>(std::move(options), sway.environment(),
                                        true, true);
}

}  // namespace glidemate::testing
