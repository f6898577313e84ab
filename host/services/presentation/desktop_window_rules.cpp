#include "host/services/presentation/desktop_window_rules.hpp"

#include <algorithm>
#include <array>

#include "host/input/virtual_key.hpp"

namespace glidemate::host {
namespace {

struct KnownBrowser {
  std::string_view identifier;
  std::string_view name;
};

// Release channels and distribution builds have their own names.
constexpr std::array<KnownBrowser, 20> knownBrowsers{{
    {"firefox", "Firefox"},
    {"firefox-esr", "Firefox"},
    {"firefoxdeveloperedition", "Firefox"},
    {"chromium", "Chromium"},
    {"chromium-browser", "Chromium"},
    {"google-chrome", "Google Chrome"},
    {"google-chrome-beta", "Google Chrome"},
    {"google-chrome-unstable", "Google Chrome"},
    {"brave-browser", "Brave"},
    {"brave-browser-beta", "Brave"},
    {"brave-browser-nightly", "Brave"},
    {"vivaldi-stable", "Vivaldi"},
    {"vivaldi-snapshot", "Vivaldi"},
    {"vivaldi", "Vivaldi"},
    {"opera", "Opera"},
    {"opera-beta", "Opera"},
    {"opera-developer", "Opera"},
    {"microsoft-edge", "Microsoft Edge"},
    {"microsoft-edge-beta", "Microsoft Edge"},
    {"microsoft-edge-dev", "Microsoft Edge"},
}};

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

}  // namespace

std::optional<std::string> DesktopWindowRules::browserName(std::string_view identifier) {
  for (const auto& browser : knownBrowsers) {
    if (sameIgnoringAsciiCase(identifier, browser.identifier)) return std::string(browser.name);
  }
  return std::nullopt;
}

bool DesktopWindowRules::isImpress(std::string_view identifier) {
  return sameIgnoringAsciiCase(identifier, "libreoffice-impress");
}

PresentationStatus DesktopWindowRules::impressStatus(bool isFullScreen) {
  return PresentationStatus{std::string(impress), isFullScreen, 0, 0, "", false};
}

std::uint16_t DesktopWindowRules::impressKey(PresentationAction action) {
  switch (action) {
    case PresentationAction::start: return VirtualKey::f5;
    case PresentationAction::next: return VirtualKey::rightArrow;
    case PresentationAction::previous: return VirtualKey::leftArrow;
    case PresentationAction::end: return VirtualKey::escape;
  }
  return VirtualKey::escape;
}

}  // namespace glidemate::host
