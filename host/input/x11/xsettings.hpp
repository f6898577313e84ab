#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace glidemate::host {

// Reads an integer setting (such as "Net/DoubleClickTime") from the value of
// the XSETTINGS manager's _XSETTINGS_SETTINGS property, the way desktops
// publish their settings to X clients. Nothing if the setting is absent, is
// not an integer, or the data are malformed.
std::optional<std::int32_t> xsettingsInteger(std::span<const std::uint8_t> property, std::string_view name);

}  // namespace glidemate::host
