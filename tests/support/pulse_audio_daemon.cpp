#include "tests/support/pulse_audio_daemon.hpp"

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace glidemate::testing {
namespace {

// The daemon's readiness comes as the systemd notification "READY=1" on a
// datagram socket of ours.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cannot make the notification socket");
    }
  }
  ~NotifySocket() { ::close(fd_); }

  bool waitForReady() {
    for (;;) {
      pollfd descriptor{fd_, POLLIN, 0};
      // Only a guard against a daemon that never comes up.
      if (::poll(&descriptor, 1, 30'000) <= 0) return false;
      char buffer[256] = {};
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer - 1, 0);
      if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)).find("READY=1") != std::string::npos) return true;
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace

PulseAudioDaemon::PulseAudioDaemon() {
  char pattern[] = "/tmp/glidemate-pulse-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  std::filesystem::create_directory(folder_ / "home");
  std::filesystem::create_directory(folder_ / "runtime");
  ::chmod((folder_ / "runtime").c_str(), 0700);
  server_ = "unix:" + (folder_ / "native").string();
  try {
    start();
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw;
  }
}

void PulseAudioDaemon::start() {
  std::filesystem::remove(folder_ / "notify");
  NotifySocket notify(folder_ / "notify");
  std::vector<std::string> environment = this->environment();
  environment.push_back("NOTIFY_SOCKET=" + (folder_ / "notify").string());
  daemon_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                               "--system=no", "--log-target=stderr", "--log-level=error", "-L", "module-null-sink",
                               "-L", "module-native-protocol-unix socket=" + (folder_ / "native").string() +
                                         " auth-anonymous=1"},
      environment);
  if (!notify.waitForReady()) throw std::runtime_error("pulseaudio did not start");
}

PulseAudioDaemon::~PulseAudioDaemon() {
  stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> PulseAudioDaemon::environment() const {
  return {"PULSE_SERVER=" + server_, "HOME=" + (folder_ / "home").string(),
          "XDG_RUNTIME_DIR=" + (folder_ / "runtime").string(),
          // Nothing here may reach the user's own session bus.
          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder_ / "no-bus").string()};
}

std::string PulseAudioDaemon::pactl(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv{"env"};
  for (const auto& variable : environment()) argv.push_back(variable);
  argv.push_back("pactl");
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const auto result = runProgram(argv);
  if (result.status != 0) throw std::runtime_error("pactl failed: " + result.err);
  return result.out;
}

void PulseAudioDaemon::stop() { daemon_.reset(); }

}  // namespace glidemate::testing
