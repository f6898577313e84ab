#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kit/wire/json_error.hpp"
#include "kit/wire/status.hpp"

namespace glidemate {

// A report from the host to the phone. Travels as JSON inside an `event`
// message, in the same form as a command.
struct Event {
  struct Volume { VolumeStatus value; bool operator==(const Volume&) const = default; };
  struct Battery { BatteryStatus value; bool operator==(const Battery&) const = default; };
  struct BluetoothDevices { std::vector<BluetoothDeviceInfo> value; bool operator==(const BluetoothDevices&) const = default; };
  struct Apps { std::vector<AppInfo> value; bool operator==(const Apps&) const = default; };
  struct ThreeFingerDragEnabled { bool value; bool operator==(const ThreeFingerDragEnabled&) const = default; };
  struct Presentation { PresentationStatus value; bool operator==(const Presentation&) const = default; };
  struct NowPlaying { NowPlayingStatus value; bool operator==(const NowPlaying&) const = default; };
  struct Clipboard { std::string value; bool operator==(const Clipboard&) const = default; };
  struct Shortcuts { std::vector<std::string> value; bool operator==(const Shortcuts&) const = default; };
  struct KeepAwake { bool value; bool operator==(const KeepAwake&) const = default; };
  // A command that could not be carried out: a short feature name and a
  // sentence for the phone's user.
  struct Failed {
    std::string command;
    std::string reason;
    bool operator==(const Failed&) const = default;
  };

  using Case = std::variant<Volume, Battery, BluetoothDevices, Apps, ThreeFingerDragEnabled,
                            Presentation, NowPlaying, Clipboard, Shortcuts, KeepAwake, Failed>;

  Case value;

  template <class T>
    requires std::constructible_from<Case, T>
  Event(T c) : value(std::move(c)) {}  // NOLINT: every case converts implicitly

  std::string_view caseName() const;

  // Throws JsonCodingError when a float is not finite.
  std::string toJson() const;
  // Throws JsonCodingError for anything that is not exactly an event.
  static Event fromJson(std::string_view json);

  bool operator==(const Event&) const = default;
};

}  // namespace glidemate
