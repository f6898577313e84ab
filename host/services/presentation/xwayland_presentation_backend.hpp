#pragma once

#include <memory>

#include "host/services/presentation/presentation_backend.hpp"

namespace glidemate::host {

// Presentations on a Wayland desktop that lets no program read which of its
// windows is in front (GNOME, and the desktops reached through the portal):
// what XWayland's X display shows (its backend, when there is one) is still
// recognised, and beyond that the frontmost window counts as unreadable, so
// that the service drives whatever is in front by keys.
class XWaylandPresentationBackend final : public PresentationBackend {
 public:
  // `xwayland` may be null: no X display.
  explicit XWaylandPresentationBackend(std::unique_ptr<PresentationBackend> xwayland)
      : xwayland_(std::move(xwayland)) {}

  std::optional<Application> currentApplication() override {
    return xwayland_ ? xwayland_->currentApplication() : std::nullopt;
  }
  PresentationStatus status(const Application& application) override { return xwayland_->status(application); }
  std::optional<std::uint16_t> perform(const Application& application, PresentationAction action) override {
    return xwayland_->perform(application, action);
  }
  std::optional<BrowserWindow> frontmostBrowserWindow() override {
    return xwayland_ ? xwayland_->frontmostBrowserWindow() : std::nullopt;
  }
  bool readsFrontmostWindow() override { return false; }

 private:
  std::unique_ptr<PresentationBackend> xwayland_;
};

}  // namespace glidemate::host
