#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <memory>
#include <string>

#include "host/services/audio/audio_output.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// The default sink of a PulseAudio server (or of PipeWire's pulse server),
// through libpulse. libpulse runs its loop on a thread of its own; its
// callbacks only copy what the server said and post it to the main
// executor, where all of this object's state lives. The server's sink and
// server events (volume, mute, a new default sink) become watch()
// notifications. A server that is missing or goes away is logged once and
// tried again after `reconnectDelay`; until then there is no device.
class PulseAudioOutput final : public AudioOutput {
 public:
  struct Options {
    // Empty: libpulse's usual lookup (PULSE_SERVER, the user's runtime
    // folder, ...). A server is never started for us.
    std::string server;
    // For one request, and for a connection under way to settle.
    std::chrono::milliseconds requestTimeout{5000};
    std::chrono::milliseconds reconnectDelay{3000};
  };

  // Throws std::runtime_error when libpulse cannot start its loop.
  PulseAudioOutput(const asio::any_io_executor& executor, Logger& logger, Options options);
  PulseAudioOutput(const asio::any_io_executor& executor, Logger& logger)
      : PulseAudioOutput(executor, logger, Options{}) {}
  ~PulseAudioOutput() override;
  PulseAudioOutput(const PulseAudioOutput&) = delete;
  PulseAudioOutput& operator=(const PulseAudioOutput&) = delete;

  asio::awaitable<std::optional<Device>> defaultDevice() override;
  asio::awaitable<void> setVolume(std::uint32_t id, float level) override;
  asio::awaitable<void> setMuted(std::uint32_t id, bool muted) override;
  void watch(std::function<void()> changed) override;

  // True while a server is connected.
  bool isConnected() const;

 private:
  struct Core;
  std::shared_ptr<Core> core_;
};

}  // namespace glidemate::host
