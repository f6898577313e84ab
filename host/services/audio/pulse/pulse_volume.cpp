#include "host/services/audio/pulse/pulse_volume.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace glidemate::host {
namespace {

std::uint64_t sum(const pa_cvolume& volume) {
  std::uint64_t total = 0;
  for (unsigned i = 0; i < volume.channels; ++i) total += volume.values[i];
  return total;
}

}  // namespace

std::optional<float> PulseVolume::averageLevel(const pa_cvolume& volume) {
  if (pa_cvolume_valid(&volume) == 0) return std::nullopt;
  const double average = static_cast<double>(sum(volume)) / volume.channels;
  return static_cast<float>(average / PA_VOLUME_NORM);
}

pa_cvolume PulseVolume::withAverageLevel(const pa_cvolume& volume, float level) {
  const double max = PA_VOLUME_MAX;
  const double target = std::clamp(static_cast<double>(level) * PA_VOLUME_NORM, 0.0, max);
  const double total = static_cast<double>(sum(volume));
  // Every channel is multiplied by the same factor, so their shares stay.
  const double factor = total == 0 ? 0 : target * volume.channels / total;
  pa_cvolume out = volume;
  for (unsigned i = 0; i < volume.channels; ++i) {
    const double scaled = total == 0 ? target : volume.values[i] * factor;
    out.values[i] = static_cast<pa_volume_t>(std::llround(std::min(scaled, max)));
  }
  return out;
}

AudioOutput::Device PulseVolume::deviceOf(const pa_sink_info& sink) {
  std::optional<std::string> name;
  if (sink.description != nullptr && *sink.description != '\0') name = sink.description;
  return AudioOutput::Device{sink.index, averageLevel(sink.volume), sink.mute != 0, std::move(name)};
}

}  // namespace glidemate::host
