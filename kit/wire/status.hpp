#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace glidemate {

// Small enumerations carried by commands. String-valued ones travel as their
// names; ScreenPreviewMode travels as a number.

enum class PowerAction { sleep, lock, restart, shutDown };
inline constexpr std::array allPowerActions{PowerAction::sleep, PowerAction::lock,
                                            PowerAction::restart, PowerAction::shutDown};

enum class ScreenPreviewMode : std::uint8_t { off = 0, screen = 1, cursor = 2 };
inline constexpr std::array allScreenPreviewModes{ScreenPreviewMode::off, ScreenPreviewMode::screen,
                                                  ScreenPreviewMode::cursor};

enum class PresentationAction { start, next, previous, end };

enum class LaserColor { red, green };

enum class MediaAction { playPause, next, previous };

// Status records carried by events.

struct VolumeStatus {
  float level = 0;
  bool isMuted = false;
  std::string deviceName;
  bool canAdjust = false;
  bool operator==(const VolumeStatus&) const = default;
};

struct BatteryStatus {
  bool isPresent = false;
  std::optional<std::int64_t> percent;
  bool isCharging = false;
  std::optional<std::int64_t> cycleCount;
  std::optional<std::string> condition;
  bool operator==(const BatteryStatus&) const = default;
};

struct BluetoothDeviceInfo {
  std::string address;
  std::string name;
  bool isConnected = false;
  std::optional<std::int64_t> batteryPercent;
  const std::string& id() const { return address; }
  bool operator==(const BluetoothDeviceInfo&) const = default;
};

struct AppInfo {
  std::string bundleId;
  std::string name;
  bool isRunning = false;
  const std::string& id() const { return bundleId; }
  bool operator==(const AppInfo&) const = default;
};

struct PresentationStatus {
  std::optional<std::string> app;
  bool isPlaying = false;
  std::int64_t slideIndex = 0;
  std::int64_t slideCount = 0;
  std::string notes;
  bool notesAvailable = false;
  bool operator==(const PresentationStatus&) const = default;
};

struct NowPlayingStatus {
  std::optional<std::string> app;
  std::string title;
  std::string artist;
  std::string album;
  bool isPlaying = false;
  std::optional<std::string> artworkKey;
  bool operator==(const NowPlayingStatus&) const = default;
};

struct PeerInfo {
  std::string id;
  std::string name;
  bool operator==(const PeerInfo&) const = default;
};

}  // namespace glidemate

template <>
struct std::hash<glidemate::AppInfo> {
  std::size_t operator()(const glidemate::AppInfo& a) const noexcept {
    std::size_t h = std::hash<std::string>{}(a.bundleId);
    h ^= std::hash<std::string>{}(a.name) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h ^ (a.isRunning ? 1U : 0U);
  }
};
