#include "host/services/presentation/wlroots/wlroots_presentation_backend.hpp"

#include <string_view>

#include "host/services/apple_script_runner.hpp"
#include "host/services/presentation/desktop_window_rules.hpp"

namespace glidemate::host {
namespace {

// The id itself, then its last dotted part.
template <typename Rule>
auto byAppId(std::string_view appId, Rule rule) {
  auto found = rule(appId);
  if (const auto dot = appId.rfind('.'); !found && dot != std::string_view::npos) found = rule(appId.substr(dot + 1));
  return found;
}

bool isImpress(std::string_view appId) {
  return byAppId(appId, [](std::string_view id) { return DesktopWindowRules::isImpress(id); });
}

void expectImpress(const PresentationBackend::Application& application) {
  if (application.name != DesktopWindowRules::impress) {
    throw AppleScriptRunner::Failure::failed(application.name + " refused the command.");
  }
}

}  // namespace

std::optional<PresentationBackend::Application> WlrootsPresentationBackend::currentApplication() {
  const auto window = toplevels_->activated();
  if (!window || !isImpress(window->appId)) return std::nullopt;
  return Application{std::string(DesktopWindowRules::impress)};
}

PresentationStatus WlrootsPresentationBackend::status(const Application& application) {
  expectImpress(application);
  const auto window = toplevels_->activated();
  return DesktopWindowRules::impressStatus(window && window->isFullScreen);
}

std::optional<std::uint16_t> WlrootsPresentationBackend::perform(const Application& application,
                                                                 PresentationAction action) {
  expectImpress(application);
  return DesktopWindowRules::impressKey(action);
}

std::optional<PresentationBackend::BrowserWindow> WlrootsPresentationBackend::frontmostBrowserWindow() {
  auto window = toplevels_->activated();
  if (!window) return std::nullopt;
  auto name = byAppId(window->appId, [](std::string_view id) { return DesktopWindowRules::browserName(id); });
  if (!name) return std::nullopt;
  return BrowserWindow{std::move(name), std::move(window->title), window->isFullScreen};
}

}  // namespace glidemate::host
