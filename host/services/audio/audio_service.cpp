#include "host/services/audio/audio_service.hpp"

#include <algorithm>
#include <cmath>

#include "kit/runtime/notifier.hpp"

namespace glidemate::host {

// What the change-following task shares with the service: the callback and
// the flag the output's notifications raise.
struct AudioService::Follower {
  explicit Follower(const asio::any_io_executor& executor) : changed(executor) {}
  Notifier changed;
  bool pending = false;
  std::function<void(const VolumeStatus&)> onChange;
};

AudioService::AudioService(const asio::any_io_executor& executor, std::shared_ptr<AudioOutput> output)
    : executor_(executor), output_(std::move(output)), follower_(std::make_shared<Follower>(executor)) {}

AudioService::~AudioService() { output_->watch(nullptr); }

VolumeStatus AudioService::statusOf(const std::optional<AudioOutput::Device>& device) {
  if (!device) return VolumeStatus{.level = 0, .isMuted = false, .deviceName = noOutputName, .canAdjust = false};
  const float volume = device->volume.value_or(0.0f);
  return VolumeStatus{
      .level = std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f),
      .isMuted = device->muted.value_or(false),
      .deviceName = device->name && !device->name->empty() ? *device->name : unnamedOutputName,
      .canAdjust = device->volume.has_value(),
  };
}

asio::awaitable<VolumeStatus> AudioService::status() {
  auto output = output_;
  co_return statusOf(co_await output->defaultDevice());
}

asio::awaitable<void> AudioService::setVolume(float level) {
  auto output = output_;
  if (std::isnan(level)) co_return;
  const auto device = co_await output->defaultDevice();
  if (!device) co_return;
  const float clamped = std::clamp(level, 0.0f, 1.0f);
  if (device->volume) co_await output->setVolume(device->id, clamped);
  if (clamped > 0 && device->muted == true) co_await output->setMuted(device->id, false);
}

asio::awaitable<void> AudioService::setMuted(bool muted) {
  auto output = output_;
  const auto device = co_await output->defaultDevice();
  if (!device || !device->muted) co_return;
  co_await output->setMuted(device->id, muted);
}

void AudioService::start(std::function<void(const VolumeStatus&)> onChange) {
  follower_->onChange = std::move(onChange);
  if (!following_.isDone()) return;
  output_->watch([weak = std::weak_ptr<Follower>(follower_)] {
    if (auto follower = weak.lock()) {
      follower->pending = true;
      follower->changed.notifyAll();
    }
  });
  following_ = Task(executor_, follow(output_, follower_));
}

// Reads the status after each notification and passes it on only when it
// differs from the last one: sound systems also notify of changes the phone
// does not show (a device going idle, another device's volume). A burst of
// notifications during one read costs one more read, not one per
// notification.
asio::awaitable<void> AudioService::follow(std::shared_ptr<AudioOutput> output, std::shared_ptr<Follower> follower) {
  VolumeStatus last = statusOf(co_await output->defaultDevice());
  for (;;) {
    while (!follower->pending) co_await follower->changed.wait();
    follower->pending = false;
    VolumeStatus now = statusOf(co_await output->defaultDevice());
    if (now == last) continue;
    last = now;
    if (follower->onChange) follower->onChange(last);
  }
}

}  // namespace glidemate::host
