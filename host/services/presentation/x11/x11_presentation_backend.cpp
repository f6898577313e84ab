#include "host/services/presentation/x11/x11_presentation_backend.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "host/input/virtual_key.hpp"
#include "host/services/apple_script_runner.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view impress = "Impress";

struct KnownBrowser {
  // WM_CLASS, either part, compared without regard to ASCII case.
  std::string_view windowClass;
  std::string_view name;
};

// Release channels and distribution builds have their own class names.
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

std::optional<std::string> X11PresentationBackend::browserName(const Ewmh::WindowClass& windowClass) {
  // The class part first: Firefox's instance is "Navigator".
  for (const std::string& part : {windowClass.name, windowClass.instance}) {
    for (const auto& browser : knownBrowsers) {
      if (sameIgnoringAsciiCase(part, browser.windowClass)) return std::string(browser.name);
    }
  }
  return std::nullopt;
}

bool X11PresentationBackend::isImpress(const Ewmh::WindowClass& windowClass) {
  return sameIgnoringAsciiCase(windowClass.name, "libreoffice-impress") ||
         sameIgnoringAsciiCase(windowClass.instance, "libreoffice-impress");
}

std::optional<PresentationBackend::Application> X11PresentationBackend::currentApplication() {
  const auto window = ewmh_.activeWindow();
  if (!window) return std::nullopt;
  const auto windowClass = ewmh_.windowClass(*window);
  if (!windowClass || !isImpress(*windowClass)) return std::nullopt;
  return Application{std::string(impress)};
}

PresentationStatus X11PresentationBackend::status(const Application& application) {
  if (application.name != impress) throw AppleScriptRunner::Failure::failed(application.name + " refused the command.");
  const auto window = ewmh_.activeWindow();
  return PresentationStatus{std::string(impress), window && ewmh_.isFullScreen(*window), 0, 0, "", false};
}

std::optional<std::uint16_t> X11PresentationBackend::perform(const Application& application,
                                                             PresentationAction action) {
  if (application.name != impress) throw AppleScriptRunner::Failure::failed(application.name + " refused the command.");
  switch (action) {
    case PresentationAction::start: return VirtualKey::f5;
    case PresentationAction::next: return VirtualKey::rightArrow;
    case PresentationAction::previous: return VirtualKey::leftArrow;
    case PresentationAction::end: return VirtualKey::escape;
  }
  return std::nullopt;
}

std::optional<PresentationBackend::BrowserWindow> X11PresentationBackend::frontmostBrowserWindow() {
  const auto window = ewmh_.activeWindow();
  if (!window) return std::nullopt;
  const auto windowClass = ewmh_.windowClass(*window);
  if (!windowClass) return std::nullopt;
  auto name = browserName(*windowClass);
  if (!name) return std::nullopt;
  return BrowserWindow{std::move(name), ewmh_.title(*window).value_or(""), ewmh_.isFullScreen(*window)};
}

}  // namespace glidemate::host
