#include "host/wlroots/wlroots_toplevels.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "host/wlroots/wayland_connection.hpp"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace glidemate::host {

struct WlrootsToplevels::State : std::enable_shared_from_this<State> {
  struct Handle {
    Toplevel pending;
    bool pendingActivated = false;
    Toplevel current;
    bool activated = false;
  };

  State(const asio::any_io_executor& e, Logger& l, std::string d) : executor(e), logger(l), display(std::move(d)) {}
  ~State() { teardown(); }

  asio::any_io_executor executor;
  Logger& logger;
  std::string display;
  std::unique_ptr<WaylandConnection> wayland;
  wl_registry* registry = nullptr;
  zwlr_foreign_toplevel_manager_v1* manager = nullptr;
  std::map<zwlr_foreign_toplevel_handle_v1*, Handle> handles;
  // Whether the compositor's absence (or its lack of the protocol) was
  // said; once until it is back.
  bool absenceLogged = false;

  void log(const std::string& message) { logger.log("presentation", message); }

  void connect() {
    wayland = WaylandConnection::open(executor, display, [weak = weak_from_this()](const std::string& why) {
      if (auto self = weak.lock()) {
        if (!self->absenceLogged) self->log("The Wayland compositor " + why + ": its windows are not seen");
        self->absenceLogged = true;
        self->teardown();
      }
    });
    if (!wayland) {
      if (!absenceLogged) log("No Wayland compositor at " + waylandDisplayName(display) + ": its windows are not seen");
      absenceLogged = true;
      return;
    }
    registry = wl_display_get_registry(wayland->display());
    wl_registry_add_listener(registry, &registryListener, this);
    wayland->roundtrip([weak = weak_from_this()] {
      auto self = weak.lock();
      if (!self || self->manager != nullptr) return;
      if (!self->absenceLogged) {
        self->log("The Wayland compositor does not list its windows (wlroots protocols): presentations in them are "
                  "not found");
      }
      self->absenceLogged = true;
    });
  }

  void teardown() {
    for (const auto& [handle, _] : handles) zwlr_foreign_toplevel_handle_v1_destroy(handle);
    handles.clear();
    if (manager != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(manager);
    if (registry != nullptr) wl_registry_destroy(registry);
    manager = nullptr;
    registry = nullptr;
    wayland.reset();
  }

  void global(std::uint32_t name, const char* interface, std::uint32_t version) {
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) != 0 || manager != nullptr) return;
    // Version 2 has the full-screen state.
    manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, 2u)));
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &managerListener, this);
    absenceLogged = false;
  }

  static State& of(void* data) { return *static_cast<State*>(data); }

  static const wl_registry_listener registryListener;
  static const zwlr_foreign_toplevel_manager_v1_listener managerListener;
  static const zwlr_foreign_toplevel_handle_v1_listener handleListener;
};

const wl_registry_listener WlrootsToplevels::State::registryListener{
    [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
      of(data).global(name, interface, version);
    },
    [](void*, wl_registry*, std::uint32_t) {},
};

const zwlr_foreign_toplevel_manager_v1_listener WlrootsToplevels::State::managerListener{
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
      of(data).handles[handle];
      zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, data);
    },
    [](void* data, zwlr_foreign_toplevel_manager_v1* manager) {
      // The compositor is done with it: the windows are no longer told.
      auto& self = of(data);
      zwlr_foreign_toplevel_manager_v1_destroy(manager);
      self.manager = nullptr;
    },
};

const zwlr_foreign_toplevel_handle_v1_listener WlrootsToplevels::State::handleListener{
    [](void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* title) {
      of(data).handles[handle].pending.title = title != nullptr ? title : "";
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appId) {
      of(data).handles[handle].pending.appId = appId != nullptr ? appId : "";
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
      auto& h = of(data).handles[handle];
      h.pendingActivated = false;
      h.pending.isFullScreen = false;
      const auto* state = static_cast<const std::uint32_t*>(states->data);
      for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
        if (state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) h.pendingActivated = true;
        if (state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN) h.pending.isFullScreen = true;
      }
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
      auto& h = of(data).handles[handle];
      h.current = h.pending;
      h.activated = h.pendingActivated;
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
      of(data).handles.erase(handle);
      zwlr_foreign_toplevel_handle_v1_destroy(handle);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

WlrootsToplevels::WlrootsToplevels(const asio::any_io_executor& executor, Logger& logger, std::string display)
    : state_(std::make_shared<State>(executor, logger, std::move(display))) {
  state_->connect();
}

WlrootsToplevels::~WlrootsToplevels() { state_->teardown(); }

std::optional<WlrootsToplevels::Toplevel> WlrootsToplevels::activated() {
  State& s = *state_;
  if (!s.wayland) s.connect();
  for (const auto& [handle, h] : s.handles) {
    if (h.activated) return h.current;
  }
  return std::nullopt;
}

}  // namespace glidemate::host
