#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "host/services/presentation/presentation_backend.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// The phone as a slide clicker: drives the slideshow application the
// backend finds, or else recognises a web slideshow in the frontmost browser
// and tells the caller which key moves it. A browser slideshow is only
// driven once a status query has found it. One instance; main executor.
class PresentationService {
 public:
  static constexpr const char* startInBrowser =
      "Start the slideshow in the browser; the buttons take over from there.";
  static constexpr const char* nothingToDrive = "Open a presentation in Keynote, PowerPoint or your browser first.";

  explicit PresentationService(std::unique_ptr<PresentationBackend> backend);

  // Whether the last status query found a browser slideshow.
  bool drivesBrowser() const { return drivesBrowser_; }

  // Throws AppleScriptRunner::Failure.
  PresentationStatus status();
  // Carries `action` out, or returns the virtual key that carries it out in
  // a browser slideshow (or an application driven by keys). Throws
  // AppleScriptRunner::Failure, with one of the two sentences above when
  // there is nothing to drive.
  std::optional<std::uint16_t> perform(PresentationAction action);

 private:
  std::optional<PresentationStatus> browserStatus();

  std::unique_ptr<PresentationBackend> backend_;
  bool drivesBrowser_ = false;
};

}  // namespace glidemate::host
