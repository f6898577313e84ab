#pragma once

#include <QUrl>

namespace glidemate::host {

// Words the app's windows share; those that differ from the phone-facing
// product's name Linux's own facilities (the README lists them).
namespace CompanionTexts {

inline constexpr const char* inputPermission = "Pointer and keyboard";
inline constexpr const char* capturePermission = "Screen capture";
inline constexpr const char* busPermission = "Session bus";
inline constexpr const char* allowed = "Allowed";
// Re-checks: on Linux nothing needs granting, only reaching.
inline constexpr const char* checkAgain = "Already allowed?";
inline constexpr const char* startAtLogin = "Start at login";
// The switch under the welcome window's "Start at login" row.
inline constexpr const char* openAtLogin = "Open Glidemate when you log in";
inline constexpr const char* inputNeeded = "Glidemate needs a way into this desktop to move the cursor.";
// Where the desktop itself asks the user (through its portal) before input
// goes through; the reason under it says where its question stands.
inline constexpr const char* desktopPermissionNeeded = "Glidemate needs your desktop's permission to move the cursor.";
inline constexpr const char* askAgain = "Ask again";
inline constexpr const char* privacy =
    "Glidemate keeps the keys of paired iPhones and its settings in your home folder, and sends "
    "nothing anywhere but to your paired iPhones.";

// The README: the installed copy, else the one beside the sources.
QUrl readmeUrl();

}  // namespace CompanionTexts
}  // namespace glidemate::host
