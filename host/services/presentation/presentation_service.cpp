#include "host/services/presentation/presentation_service.hpp"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <string_view>

#include "host/input/virtual_key.hpp"
#include "host/services/apple_script_runner.hpp"

namespace glidemate::host {
namespace {

struct WebSlideshow {
  std::string_view keyword;
  std::string_view name;
};

// Tested in this order: the first keyword in the title names the service.
constexpr std::array<WebSlideshow, 6> webSlideshows{{
    {"Google Slides", "Google Slides"},
    {"Gamma", "Gamma"},
    {"Canva", "Canva"},
    {"Pitch", "Pitch"},
    {"Prezi", "Prezi"},
    {"Slides.com", "Slides"},
}};

icu::UnicodeString folded(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())))
      .foldCase(U_FOLD_CASE_DEFAULT);
}

// Without white space and line breaks at either end (any Unicode space).
std::string trimmed(const std::string& text) {
  const icu::UnicodeString units = icu::UnicodeString::fromUTF8(text);
  std::int32_t start = 0;
  while (start < units.length() && u_isUWhiteSpace(units.char32At(start))) start = units.moveIndex32(start, 1);
  std::int32_t end = units.length();
  while (end > start) {
    const std::int32_t previous = units.moveIndex32(end, -1);
    if (!u_isUWhiteSpace(units.char32At(previous))) break;
    end = previous;
  }
  std::string out;
  units.tempSubStringBetween(start, end).toUTF8String(out);
  return out;
}

PresentationStatus browserShape(std::string app, bool isPlaying) {
  return PresentationStatus{std::move(app), isPlaying, 0, 0, "", false};
}

}  // namespace

PresentationService::PresentationService(std::unique_ptr<PresentationBackend> backend)
    : backend_(std::move(backend)) {}

PresentationStatus PresentationService::status() {
  if (const auto application = backend_->currentApplication()) {
    drivesBrowser_ = false;
    PresentationStatus status = backend_->status(*application);
    status.notes = trimmed(status.notes);
    return status;
  }
  if (auto browser = browserStatus()) {
    drivesBrowser_ = true;
    return std::move(*browser);
  }
  if (!backend_->readsFrontmostWindow()) {
    drivesBrowser_ = true;
    return browserShape(unseenSlideshow, true);
  }
  drivesBrowser_ = false;
  return PresentationStatus{std::nullopt, false, 0, 0, "", true};
}

std::optional<PresentationStatus> PresentationService::browserStatus() {
  const auto window = backend_->frontmostBrowserWindow();
  if (!window) return std::nullopt;
  // Case-insensitive in every script: full case folding, so that "SLIDES"
  // and "slides" meet, and "ß" meets "SS".
  const icu::UnicodeString title = folded(window->title);
  for (const auto& slideshow : webSlideshows) {
    if (title.indexOf(folded(slideshow.keyword)) >= 0) {
      return browserShape(std::string(slideshow.name), window->isFullScreen);
    }
  }
  if (!window->isFullScreen) return std::nullopt;
  return browserShape(window->browserName.value_or("Browser"), true);
}

std::optional<std::uint16_t> PresentationService::perform(PresentationAction action) {
  if (const auto application = backend_->currentApplication()) return backend_->perform(*application, action);
  if (!drivesBrowser_) throw AppleScriptRunner::Failure::failed(nothingToDrive);
  switch (action) {
    case PresentationAction::next: return VirtualKey::rightArrow;
    case PresentationAction::previous: return VirtualKey::leftArrow;
    case PresentationAction::end: return VirtualKey::escape;
    case PresentationAction::start: break;
  }
  throw AppleScriptRunner::Failure::failed(startInBrowser);
}

}  // namespace glidemate::host
