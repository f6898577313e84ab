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
// LibreOffice Impress stands where Keynote and PowerPoint stand: while one
// of its windows is active it is driven by its own keys (F5 starts, the
// arrows move, Escape ends), reports itself as "Impress", playing while the
// active window (its slide show) is full screen, with no slide numbers and
// no notes. Any other active window is a browser when its class is in the
// table of browserName().
class X11PresentationBackend final : public PresentationBackend {
 public:
  explicit X11PresentationBackend(std::shared_ptr<X11DesktopConnection> connection)
      : connection_(std::move(connection)), ewmh_(*connection_) {}

  // The browser a window's class names (Firefox, Chromium, Google Chrome,
  // Brave, Vivaldi, Opera, Microsoft Edge, by their usual class names on
  // Linux), or nothing.
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
