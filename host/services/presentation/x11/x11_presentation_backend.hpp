#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/services/presentation/presentation_backend.hpp"
#include "host/x11/ewmh.hpp"
#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {

// Slideshows on an X11 desktop, read from the window manager (EWMH): the
// active window, its class, its title and whether it is full screen.
//
// Impress and the browsers are told by the window's class, as
// DesktopWindowRules says.
class X11PresentationBackend final : public PresentationBackend {
 public:
  explicit X11PresentationBackend(std::shared_ptr<X11DesktopConnection> connection)
      : connection_(std::move(connection)), ewmh_(*connection_) {}

  // The browser either part of a window's class names, or nothing.
  static std::optional<std::string> browserName(const Ewmh::WindowClass& windowClass);
  // Whether a window's class is LibreOffice Impress.
  static bool isImpress(const Ewmh::WindowClass& windowClass);

  std::optional<Application> currentApplication() override;
  PresentationStatus status(const Application& application) override;
  std::optional<std::uint16_t> perform(const Application& application, PresentationAction action) override;
  std::optional<BrowserWindow> frontmostBrowserWindow() override;

 private:
  std::shared_ptr<X11DesktopConnection> connection_;
  Ewmh ewmh_;
};

}  // namespace glidemate::host
