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
// driven once a status query has found it. On a desktop whose frontmost
// window can't be read, whatever is in front when nothing else was found
// is reported as `unseenSlideshow`, playing, and driven by the same keys.
// One instance; main executor.
class PresentationService {
 public:
  static constexpr const char* startInBrowser =
      "Start the slideshow in the browser; the buttons take over from there.";
  static constexpr const char* nothingToDrive = "Open a presentation in Keynote, PowerPoint or your browser first.";
  // The name reported for a slideshow that can't be seen.
  static constexpr const char* unseenSlideshow = "Slideshow";

  explicit PresentationService(std::unique_ptr<PresentationBackend> backend);

  // Whether the last status query found a browser slideshow (or, on a
  // desktop that hides its windows, nothing else).
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
