#pragma once

#include <vector>

#include "host/services/audio/audio_output.hpp"

namespace glidemate::host {

// A sound system for tests: one optional default device whose volume and
// mute the writes change, a record of the writes, and notifications sent
// when a test calls notify().
class FakeAudioOutput final : public AudioOutput {
 public:
  struct VolumeWrite {
    std::uint32_t id;
    float level;
    bool operator==(const VolumeWrite&) const = default;
  };
  struct MuteWrite {
    std::uint32_t id;
    bool muted;
    bool operator==(const MuteWrite&) const = default;
  };

  explicit FakeAudioOutput(std::optional<Device> initial = std::nullopt) : device(std::move(initial)) {}

  asio::awaitable<std::optional<Device>> defaultDevice() override;
  asio::awaitable<void> setVolume(std::uint32_t id, float level) override;
  asio::awaitable<void> setMuted(std::uint32_t id, bool muted) override;
  void watch(std::function<void()> changed) override { changed_ = std::move(changed); }

  // As the sound system would after a change.
  void notify() {
    if (changed_) changed_();
  }
  bool isWatched() const { return static_cast<bool>(changed_); }

  std::optional<Device> device;
  std::vector<VolumeWrite> volumeWrites;
  std::vector<MuteWrite> muteWrites;

 private:
  std::function<void()> changed_;
};

}  // namespace glidemate::host
