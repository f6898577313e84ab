#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "kit/wire/json_error.hpp"
#include "kit/wire/status.hpp"

namespace glidemate {

// A request from the phone that is not raw input. Travels as JSON inside a
// `command` message: {"caseName":{...payload...}}, an unlabelled value under
// "_0", labelled values under their labels.
struct Command {
  struct Power { PowerAction value; bool operator==(const Power&) const = default; };
  struct GetVolume { bool operator==(const GetVolume&) const = default; };
  struct SetVolume { float value; bool operator==(const SetVolume&) const = default; };
  struct SetMuted { bool value; bool operator==(const SetMuted&) const = default; };
  struct GetBattery { bool operator==(const GetBattery&) const = default; };
  struct GetBluetoothDevices { bool operator==(const GetBluetoothDevices&) const = default; };
  struct ConnectBluetooth { std::string address; bool operator==(const ConnectBluetooth&) const = default; };
  struct DisconnectBluetooth { std::string address; bool operator==(const DisconnectBluetooth&) const = default; };
  struct GetApps { bool operator==(const GetApps&) const = default; };
  struct GetAppIcon { std::string bundleId; bool operator==(const GetAppIcon&) const = default; };
  struct LaunchApp { std::string bundleId; bool operator==(const LaunchApp&) const = default; };
  struct SetScreenPreview { ScreenPreviewMode value; bool operator==(const SetScreenPreview&) const = default; };
  struct Presentation { PresentationAction value; bool operator==(const Presentation&) const = default; };
  struct GetPresentation { bool operator==(const GetPresentation&) const = default; };
  struct SetLaserPointer { std::optional<LaserColor> value; bool operator==(const SetLaserPointer&) const = default; };
  struct Media { MediaAction value; bool operator==(const Media&) const = default; };
  struct GetNowPlaying { bool operator==(const GetNowPlaying&) const = default; };
  struct GetNowPlayingArtwork { bool operator==(const GetNowPlayingArtwork&) const = default; };
  struct SetClipboard { std::string value; bool operator==(const SetClipboard&) const = default; };
  struct GetClipboard { bool operator==(const GetClipboard&) const = default; };
  struct GetShortcuts { bool operator==(const GetShortcuts&) const = default; };
  struct RunShortcut { std::string name; bool operator==(const RunShortcut&) const = default; };
  struct HideApp { std::string bundleId; bool operator==(const HideApp&) const = default; };
  struct QuitApp { std::string bundleId; bool operator==(const QuitApp&) const = default; };
  struct SleepDisplay { bool operator==(const SleepDisplay&) const = default; };
  struct SetKeepAwake { bool value; bool operator==(const SetKeepAwake&) const = default; };

  using Case = std::variant<Power, GetVolume, SetVolume, SetMuted, GetBattery, GetBluetoothDevices,
                            ConnectBluetooth, DisconnectBluetooth, GetApps, GetAppIcon, LaunchApp,
                            SetScreenPreview, Presentation, GetPresentation, SetLaserPointer, Media,
                            GetNowPlaying, GetNowPlayingArtwork, SetClipboard, GetClipboard,
                            GetShortcuts, RunShortcut, HideApp, QuitApp, SleepDisplay, SetKeepAwake>;

  Case value;

  template <class T>
    requires std::constructible_from<Case, T>
  Command(T c) : value(std::move(c)) {}  // NOLINT: every case converts implicitly

  // The case's name as it appears on the wire ("setVolume").
  std::string_view caseName() const;

  // Throws JsonCodingError when a float is not finite.
  std::string toJson() const;
  // Throws JsonCodingError for anything that is not exactly a command.
  static Command fromJson(std::string_view json);

  bool operator==(const Command&) const = default;
};

}  // namespace glidemate
