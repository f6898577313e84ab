#include "kit/wire/event.hpp"

#include "kit/wire/json_form.hpp"

namespace glidemate::json_form {

GLIDEMATE_FIELDS(VolumeStatus, field("level", &VolumeStatus::level),
                 field("isMuted", &VolumeStatus::isMuted),
                 field("deviceName", &VolumeStatus::deviceName),
                 field("canAdjust", &VolumeStatus::canAdjust))
GLIDEMATE_FIELDS(BatteryStatus, field("isPresent", &BatteryStatus::isPresent),
                 field("percent", &BatteryStatus::percent),
                 field("isCharging", &BatteryStatus::isCharging),
                 field("cycleCount", &BatteryStatus::cycleCount),
                 field("condition", &BatteryStatus::condition))
GLIDEMATE_FIELDS(BluetoothDeviceInfo, field("address", &BluetoothDeviceInfo::address),
                 field("name", &BluetoothDeviceInfo::name),
                 field("isConnected", &BluetoothDeviceInfo::isConnected),
                 field("batteryPercent", &BluetoothDeviceInfo::batteryPercent))
GLIDEMATE_FIELDS(AppInfo, field("bundleId", &AppInfo::bundleId), field("name", &AppInfo::name),
                 field("isRunning", &AppInfo::isRunning))
GLIDEMATE_FIELDS(PresentationStatus, field("app", &PresentationStatus::app),
                 field("isPlaying", &PresentationStatus::isPlaying),
                 field("slideIndex", &PresentationStatus::slideIndex),
                 field("slideCount", &PresentationStatus::slideCount),
                 field("notes", &PresentationStatus::notes),
                 field("notesAvailable", &PresentationStatus::notesAvailable))
GLIDEMATE_FIELDS(NowPlayingStatus, field("app", &NowPlayingStatus::app),
                 field("title", &NowPlayingStatus::title),
                 field("artist", &NowPlayingStatus::artist),
                 field("album", &NowPlayingStatus::album),
                 field("isPlaying", &NowPlayingStatus::isPlaying),
                 field("artworkKey", &NowPlayingStatus::artworkKey))

using E = Event;
GLIDEMATE_FIELDS(E::Volume, field("_0", &E::Volume::value))
GLIDEMATE_FIELDS(E::Battery, field("_0", &E::Battery::value))
GLIDEMATE_FIELDS(E::BluetoothDevices, field("_0", &E::BluetoothDevices::value))
GLIDEMATE_FIELDS(E::Apps, field("_0", &E::Apps::value))
GLIDEMATE_FIELDS(E::ThreeFingerDragEnabled, field("_0", &E::ThreeFingerDragEnabled::value))
GLIDEMATE_FIELDS(E::Presentation, field("_0", &E::Presentation::value))
GLIDEMATE_FIELDS(E::NowPlaying, field("_0", &E::NowPlaying::value))
GLIDEMATE_FIELDS(E::Clipboard, field("_0", &E::Clipboard::value))
GLIDEMATE_FIELDS(E::Shortcuts, field("_0", &E::Shortcuts::value))
GLIDEMATE_FIELDS(E::KeepAwake, field("_0", &E::KeepAwake::value))
GLIDEMATE_FIELDS(E::Failed, field("command", &E::Failed::command),
                 field("reason", &E::Failed::reason))

}  // namespace glidemate::json_form

namespace glidemate {
namespace {

constexpr std::array<std::string_view, 11> caseNames{
    "volume",       "battery",    "bluetoothDevices", "apps",      "threeFingerDragEnabled",
    "presentation", "nowPlaying", "clipboard",        "shortcuts", "keepAwake",
    "failed"};

}  // namespace

std::string_view Event::caseName() const { return caseNames[value.index()]; }

std::string Event::toJson() const { return json_form::encodeCases(value, caseNames); }

Event Event::fromJson(std::string_view json) {
  return Event(json_form::decodeCases<Case>(json, caseNames));
}

}  // namespace glidemate
