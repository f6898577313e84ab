#pragma once

#include <asio/any_io_executor.hpp>
#include <functional>
#include <memory>

#include "host/services/audio/audio_output.hpp"
#include "kit/runtime/task.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// The default output's volume and mute for the phone, and the changes to
// them made on the computer. Main executor only.
class AudioService {
 public:
  static constexpr const char* noOutputName = "No output";
  static constexpr const char* unnamedOutputName = "Output";

  AudioService(const asio::any_io_executor& executor, std::shared_ptr<AudioOutput> output);
  ~AudioService();
  AudioService(const AudioService&) = delete;
  AudioService& operator=(const AudioService&) = delete;

  // From now on `onChange` gets the new status, on the main executor, each
  // time the volume, the mute or the default device changes. Calling it
  // again replaces the callback.
  void start(std::function<void(const VolumeStatus&)> onChange);

  asio::awaitable<VolumeStatus> status();
  // Clamped to [0, 1]. Raising the volume above 0 also unmutes; setting 0
  // leaves the mute as it is.
  asio::awaitable<void> setVolume(float level);
  asio::awaitable<void> setMuted(bool muted);

  // What the phone is shown for a device (or for none).
  static VolumeStatus statusOf(const std::optional<AudioOutput::Device>& device);

 private:
  struct Follower;
  static asio::awaitable<void> follow(std::shared_ptr<AudioOutput> output, std::shared_ptr<Follower> follower);

  asio::any_io_executor executor_;
  std::shared_ptr<AudioOutput> output_;
  std::shared_ptr<Follower> follower_;
  Task following_;
};

}  // namespace glidemate::host
