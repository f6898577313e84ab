#pragma once

#include <optional>
#include <string>

#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {

// The icon theme the desktop uses, as its XSETTINGS manager publishes it
// ("Net/IconThemeName"); nothing when no manager runs or it names none.
std::optional<std::string> xsettingsIconTheme(X11DesktopConnection& connection);

}  // namespace glidemate::host
