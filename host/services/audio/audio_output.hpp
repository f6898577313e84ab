#pragma once

// host/services/audio: the output volume and mute that the phone's slider
// shows and sets. AudioService holds the rules (fallbacks, clamping,
// unmuting on a raise, telling of changes); AudioOutput is what it needs of
// the desktop's sound system (pulse/ on Linux).

#include <asio/awaitable.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace glidemate::host {

// The sound system's default output device. Used on the main executor;
// every call is awaited without blocking it. A sound system that is
// missing or does not answer has no device, and a write to it does
// nothing; nothing here throws but the awaiting task's own cancellation.
class AudioOutput {
 public:
  struct Device {
    // Which device, for the writes.
    std::uint32_t id = 0;
    // 1.0 is full volume; a device may be turned up beyond it. Absent when
    // the device has no volume control.
    std::optional<float> volume;
    // Absent when the device cannot be muted.
    std::optional<bool> muted;
    std::optional<std::string> name;
    bool operator==(const Device&) const = default;
  };

  virtual ~AudioOutput() = default;

  // The default output device now, if there is one.
  virtual asio::awaitable<std::optional<Device>> defaultDevice() = 0;
  // Sets device `id`'s volume, 1.0 being full, keeping the balance between
  // its channels.
  virtual asio::awaitable<void> setVolume(std::uint32_t id, float level) = 0;
  virtual asio::awaitable<void> setMuted(std::uint32_t id, bool muted) = 0;
  // From now on `changed` is called on the main executor whenever the
  // default device, its volume or its mute may have changed (also when the
  // sound system comes or goes). Replaces the previous one; an empty
  // function stops the calls.
  virtual void watch(std::function<void()> changed) = 0;
};

}  // namespace glidemate::host
