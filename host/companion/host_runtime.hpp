#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "host/app/host_options.hpp"
#include "host/companion/host_action.hpp"
#include "host/companion/host_snapshot.hpp"

namespace glidemate::host {

// The host as the desktop app runs it: one HostServer with its services on
// a thread of its own, which is the host's main executor. The app sees the
// host only through snapshots handed to its sink (called on the host's
// thread) and reaches it only through perform(). Light to include: no Asio.
class HostRuntime {
 public:
  using Sink = std::function<void(std::shared_ptr<const HostSnapshot>)>;

  struct Options {
    std::string name;  // empty: the machine's name
    std::uint16_t port = 0;
    bool advertise = true;
    HostFolders folders;
    std::filesystem::path autostartFolder;
    // The autostart entry written when starting at login is turned on.
    std::string autostartEntry;
  };

  // Builds the host and starts it on its thread. Throws std::exception with
  // the reason when it cannot.
  HostRuntime(Options options, Sink sink);
  // Stops the host on its thread, then ends the thread.
  ~HostRuntime();
  HostRuntime(const HostRuntime&) = delete;
  HostRuntime& operator=(const HostRuntime&) = delete;

  // From any thread; carried out on the host's thread.
  void perform(HostAction action);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace glidemate::host
