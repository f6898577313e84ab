#include "host/services/audio/fake_audio_output.hpp"

namespace glidemate::host {

asio::awaitable<std::optional<AudioOutput::Device>> FakeAudioOutput::defaultDevice() { co_return device; }

asio::awaitable<void> FakeAudioOutput::setVolume(std::uint32_t id, float level) {
  volumeWrites.push_back({id, level});
  if (device && device->id == id) device->volume = level;
  co_return;
}

asio::awaitable<void> FakeAudioOutput::setMuted(std::uint32_t id, bool muted) {
  muteWrites.push_back({id, muted});
  if (device && device->id == id) device->muted = muted;
  co_return;
}

}  // namespace glidemate::host
