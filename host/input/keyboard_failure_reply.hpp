#pragma once

#include <exception>
#include <string_view>

#include "kit/wire/event.hpp"

namespace glidemate::host {

// What a phone is told when its key or text message fails.
namespace KeyboardFailureReply {
inline constexpr std::string_view command = "keyboard";
inline constexpr std::string_view secureInputReason =
    "Your Mac is showing a password field, which ignores typing from other apps.";
inline constexpr std::string_view notAcceptedReason = "Your Mac would not accept that.";

// A key can only fail by refusal, so every failure reads as the password
// field.
Event forKey(const std::exception& error);
// Text refused for secure entry says so; any other failure is generic.
Event forText(const std::exception& error);
}  // namespace KeyboardFailureReply

}  // namespace glidemate::host
