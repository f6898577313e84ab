#include "host/services/catalog/x11/xsettings_icon_theme.hpp"

#include <cstdint>
#include <span>

#include "host/x11/xsettings.hpp"

namespace glidemate::host {
namespace {

constexpr std::size_t maxSettingsBytes = std::size_t{256} << 10;

}  // namespace

std::optional<std::string> xsettingsIconTheme(X11DesktopConnection& connection) {
  Display* display = connection.display();
  const std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(display));
  const Window manager = XGetSelectionOwner(display, connection.atom(selection));
  if (manager == None) return std::nullopt;
  const auto settings = connection.readProperty(manager, connection.atom("_XSETTINGS_SETTINGS"), maxSettingsBytes);
  if (!settings || settings->format != 8) return std::nullopt;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(settings->bytes.data());
  auto theme = xsettingsString(std::span(bytes, settings->bytes.size()), "Net/IconThemeName");
  if (theme && theme->empty()) return std::nullopt;
  return theme;
}

}  // namespace glidemate::host
