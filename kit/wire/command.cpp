#include "kit/wire/command.hpp"

#include "kit/wire/json_form.hpp"

namespace glidemate::json_form {

template <>
struct Names<PowerAction> {
  static constexpr std::array<std::string_view, 4> names{"sleep", "lock", "restart", "shutDown"};
};
template <>
struct Names<PresentationAction> {
  static constexpr std::array<std::string_view, 4> names{"start", "next", "previous", "end"};
};
template <>
struct Names<LaserColor> {
  static constexpr std::array<std::string_view, 2> names{"red", "green"};
};
template <>
struct Names<MediaAction> {
  static constexpr std::array<std::string_view, 3> names{"playPause", "next", "previous"};
};
template <>
struct RawCount<ScreenPreviewMode> {
  static constexpr std::size_t value = 3;
};

using C = Command;
GLIDEMATE_FIELDS(C::Power, field("_0", &C::Power::value))
GLIDEMATE_NO_FIELDS(C::GetVolume)
GLIDEMATE_FIELDS(C::SetVolume, field("_0", &C::SetVolume::value))
GLIDEMATE_FIELDS(C::SetMuted, field("_0", &C::SetMuted::value))
GLIDEMATE_NO_FIELDS(C::GetBattery)
GLIDEMATE_NO_FIELDS(C::GetBluetoothDevices)
GLIDEMATE_FIELDS(C::ConnectBluetooth, field("address", &C::ConnectBluetooth::address))
GLIDEMATE_FIELDS(C::DisconnectBluetooth, field("address", &C::DisconnectBluetooth::address))
GLIDEMATE_NO_FIELDS(C::GetApps)
GLIDEMATE_FIELDS(C::GetAppIcon, field("bundleId", &C::GetAppIcon::bundleId))
GLIDEMATE_FIELDS(C::LaunchApp, field("bundleId", &C::LaunchApp::bundleId))
GLIDEMATE_FIELDS(C::SetScreenPreview, field("_0", &C::SetScreenPreview::value))
GLIDEMATE_FIELDS(C::Presentation, field("_0", &C::Presentation::value))
GLIDEMATE_NO_FIELDS(C::GetPresentation)
GLIDEMATE_FIELDS(C::SetLaserPointer, field("_0", &C::SetLaserPointer::value))
GLIDEMATE_FIELDS(C::Media, field("_0", &C::Media::value))
GLIDEMATE_NO_FIELDS(C::GetNowPlaying)
GLIDEMATE_NO_FIELDS(C::GetNowPlayingArtwork)
GLIDEMATE_FIELDS(C::SetClipboard, field("_0", &C::SetClipboard::value))
GLIDEMATE_NO_FIELDS(C::GetClipboard)
GLIDEMATE_NO_FIELDS(C::GetShortcuts)
GLIDEMATE_FIELDS(C::RunShortcut, field("name", &C::RunShortcut::name))
GLIDEMATE_FIELDS(C::HideApp, field("bundleId", &C::HideApp::bundleId))
GLIDEMATE_FIELDS(C::QuitApp, field("bundleId", &C::QuitApp::bundleId))
GLIDEMATE_NO_FIELDS(C::SleepDisplay)
GLIDEMATE_FIELDS(C::SetKeepAwake, field("_0", &C::SetKeepAwake::value))

}  // namespace glidemate::json_form

namespace glidemate {
namespace {

constexpr std::array<std::string_view, 26> caseNames{
    "power",          "getVolume",        "setVolume",       "setMuted",
    "getBattery",     "getBluetoothDevices", "connectBluetooth", "disconnectBluetooth",
    "getApps",        "getAppIcon",       "launchApp",       "setScreenPreview",
    "presentation",   "getPresentation",  "setLaserPointer", "media",
    "getNowPlaying",  "getNowPlayingArtwork", "setClipboard", "getClipboard",
    "getShortcuts",   "runShortcut",      "hideApp",         "quitApp",
    "sleepDisplay",   "setKeepAwake"};

}  // namespace

std::string_view Command::caseName() const { return caseNames[value.index()]; }

std::string Command::toJson() const { return json_form::encodeCases(value, caseNames); }

Command Command::fromJson(std::string_view json) {
  return Command(json_form::decodeCases<Case>(json, caseNames));
}

}  // namespace glidemate
