#pragma once

#include <memory>

#include "host/services/presentation/presentation_backend.hpp"
#include "host/wlroots/wlroots_toplevels.hpp"

namespace glidemate::host {

// Slideshows on a wlroots compositor, read from its list of windows: the
// one with the focus, its application id (where X11 has the window class),
// its title and whether it is full screen. Impress and the browsers are
// told by the application id, or its last dotted part (a Flatpak's
// "org.mozilla.firefox"), as DesktopWindowRules says.
class WlrootsPresentationBackend final : public PresentationBackend {
 public:
  explicit WlrootsPresentationBackend(std::unique_ptr<WlrootsToplevels> toplevels)
      : toplevels_(std::move(toplevels)) {}

  std::optional<Application> currentApplication() override;
  PresentationStatus status(const Application& application) override;
  std::optional<std::uint16_t> perform(const Application& application, PresentationAction action) override;
  std::optional<BrowserWindow> frontmostBrowserWindow() override;

 private:
  std::unique_ptr<WlrootsToplevels> toplevels_;
};

}  // namespace glidemate::host
