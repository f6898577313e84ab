#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glidemate::host {

// Reads a setting from the value of the XSETTINGS manager's
// _XSETTINGS_SETTINGS property, the way desktops publish their settings to X
// clients: an integer (such as "Net/DoubleClickTime") or a string (such as
// "Net/IconThemeName"). Nothing if the setting is absent, is of the other
// kind, or the data are malformed.
std::optional<std::int32_t> xsettingsInteger(std::span<const std::uint8_t> property, std::string_view name);
std::optional<std::string> xsettingsString(std::span<const std::uint8_t> property, std::string_view name);

}  // namespace glidemate::host
