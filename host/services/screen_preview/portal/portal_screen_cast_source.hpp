#pragma once

#include "host/services/screen_preview/pipewire/screen_cast_source.hpp"

namespace glidemate::host {

class PortalRemoteDesktop;

// The stream of the desktop portal's remote-control session that the host
// already holds: the user allowed it once, and a second session would ask
// again. Each start gets a PipeWire connection of its own from the portal;
// without a session ready (not answered yet, refused, closed, the portal
// gone) the start fails, and the next one asks again. The stream ends with
// the session. Main executor only; `session` outlives it.
class PortalScreenCastSource final : public ScreenCastSource {
 public:
  explicit PortalScreenCastSource(PortalRemoteDesktop& session) : session_(session) {}

  asio::awaitable<Stream> open(const std::function<void()>& ended) override;
  std::string description() const override;

 private:
  PortalRemoteDesktop& session_;
};

}  // namespace glidemate::host
