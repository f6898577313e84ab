#pragma once

#include <asio/any_io_executor.hpp>
#include <functional>
#include <memory>
#include <string>

struct wl_display;

namespace glidemate::host {

// One client connection to a Wayland compositor, read on the main
// executor: its descriptor is waited on and events are dispatched as they
// come; requests are flushed without blocking (a full socket is written
// when it drains). Proxies made on it belong to its owner, who destroys
// them before the connection. Main executor only.
class WaylandConnection {
 public:
  // Told once, outside libwayland's dispatch, when the compositor goes away
  // or breaks the connection; the owner may then destroy the connection.
  using Lost = std::function<void(const std::string& why)>;

  // Nothing when no compositor takes connections at `display` (a
  // WAYLAND_DISPLAY name or a path; empty: the environment's).
  static std::unique_ptr<WaylandConnection> open(const asio::any_io_executor& executor, const std::string& display,
                                                 Lost lost);
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  wl_display* display() const;
  // Sends the requests made so far.
  void flush();
  // Whether the compositor has fallen behind: the socket is full and
  // libwayland's own small buffer is filling. Callers hold back what they
  // can (coalesce motion) until `drained` is called.
  bool congested() const;
  void onDrained(std::function<void()> drained);
  // Calls `then` once the compositor has handled every request made
  // before, outside libwayland's dispatch (so it may end the connection).
  // Never called once the connection is gone.
  void roundtrip(std::function<void()> then);

 private:
  struct State;
  explicit WaylandConnection(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

// The name a display is reached by: `configured`, else $WAYLAND_DISPLAY,
// else wayland-0.
std::string waylandDisplayName(const std::string& configured);

}  // namespace glidemate::host
