#include "host/services/presentation/x11/x11_presentation_backend.hpp"

#include "host/services/apple_script_runner.hpp"
#include "host/services/presentation/desktop_window_rules.hpp"

namespace glidemate::host {

std::optional<std::string> X11PresentationBackend::browserName(const Ewmh::WindowClass& windowClass) {
  // The class part first: Firefox's instance is "Navigator".
  for (const std::string& part : {windowClass.name, windowClass.instance}) {
    if (auto name = DesktopWindowRules::browserName(part)) return name;
  }
  return std::nullopt;
}

bool X11PresentationBackend::isImpress(const Ewmh::WindowClass& windowClass) {
  return DesktopWindowRules::isImpress(windowClass.name) || DesktopWindowRules::isImpress(windowClass.instance);
}

std::optional<PresentationBackend::Application> X11PresentationBackend::currentApplication() {
  const auto window = ewmh_.activeWindow();
  if (!window) return std::nullopt;
  const auto windowClass = ewmh_.windowClass(*window);
  if (!windowClass || !isImpress(*windowClass)) return std::nullopt;
  return Application{std::string(DesktopWindowRules::impress)};
}

PresentationStatus X11PresentationBackend::status(const Application& application) {
  if (application.name != DesktopWindowRules::impress) {
    throw AppleScriptRunner::Failure::failed(application.name + " refused the command.");
  }
  const auto window = ewmh_.activeWindow();
  return DesktopWindowRules::impressStatus(window && ewmh_.isFullScreen(*window));
}

std::optional<std::uint16_t> X11PresentationBackend::perform(const Application& application,
                                                             PresentationAction action) {
  if (application.name != DesktopWindowRules::impress) {
    throw AppleScriptRunner::Failure::failed(application.name + " refused the command.");
  }
  return DesktopWindowRules::impressKey(action);
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
