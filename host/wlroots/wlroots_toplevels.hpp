#pragma once

#include <asio/any_io_executor.hpp>
#include <memory>
#include <optional>
#include <string>

#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// The toplevel windows of a wlroots compositor, as its taskbar protocol
// (zwlr_foreign_toplevel_manager_v1) tells them, on a Wayland connection
// of its own read on the main executor. Each window's state is taken as a
// whole at the compositor's `done`. A compositor that goes away is said
// once and asked again at the next read. Main executor only.
class WlrootsToplevels {
 public:
  struct Toplevel {
    std::string appId;
    std::string title;
    bool isFullScreen = false;
    bool operator==(const Toplevel&) const = default;
  };

  // `display` as WAYLAND_DISPLAY names it; empty: the environment's.
  WlrootsToplevels(const asio::any_io_executor& executor, Logger& logger, std::string display);
  ~WlrootsToplevels();
  WlrootsToplevels(const WlrootsToplevels&) = delete;
  WlrootsToplevels& operator=(const WlrootsToplevels&) = delete;

  // The window that has the focus (its state has `activated`), if any.
  std::optional<Toplevel> activated();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
