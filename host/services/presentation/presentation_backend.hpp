#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kit/wire/status.hpp"

namespace glidemate::host {

// What PresentationService needs of the desktop: the slideshow application
// it drives directly, if any, and the frontmost browser window. Each
// platform has its own applications and its own browser names; the rules
// over them (which status shape, which key, which failure) belong to the
// service. Main executor only.
class PresentationBackend {
 public:
  // An application that shows slideshows itself, by the name its status
  // reports.
  struct Application {
    std::string name;
    bool operator==(const Application&) const = default;
  };

  // The focused window of the frontmost application, which is a browser.
  struct BrowserWindow {
    // The browser's own name, if it has one.
    std::optional<std::string> browserName;
    std::string title;
    bool isFullScreen = false;
    bool operator==(const BrowserWindow&) const = default;
  };

  virtual ~PresentationBackend() = default;

  // The slideshow application to drive now; nothing when there is none.
  virtual std::optional<Application> currentApplication() = 0;
  // Its status, with its notes as it gives them. Throws
  // AppleScriptRunner::Failure.
  virtual PresentationStatus status(const Application& application) = 0;
  // Carries out `action` in it. Returns the virtual key to press for it
  // where the application is driven by keys, nothing where it is done.
  // Throws AppleScriptRunner::Failure.
  virtual std::optional<std::uint16_t> perform(const Application& application, PresentationAction action) = 0;
  // Nothing when the frontmost application is not a known browser or its
  // window cannot be read.
  virtual std::optional<BrowserWindow> frontmostBrowserWindow() = 0;
  // Whether this desktop lets the frontmost window be read at all. Where it
  // does not, a slideshow in front can't be recognised, and the service
  // drives whatever is in front by keys.
  virtual bool readsFrontmostWindow() { return true; }
};

}  // namespace glidemate::host
