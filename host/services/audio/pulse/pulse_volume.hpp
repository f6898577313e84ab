#pragma once

#include <pulse/introspect.h>
#include <pulse/volume.h>

#include <optional>

#include "host/services/audio/audio_output.hpp"

namespace glidemate::host {

// Between libpulse's sinks and the audio port's devices. A level of 1.0 is
// the sink's 100 % (PA_VOLUME_NORM); the level of a sink with several
// channels is their average.
struct PulseVolume {
  // None for a volume with no channels, too many or an impossible value.
  static std::optional<float> averageLevel(const pa_cvolume& volume);
  // `volume` scaled so that its average becomes `level`, each channel
  // keeping its share (a silent volume gets `level` on every channel).
  // `volume` must be valid.
  static pa_cvolume withAverageLevel(const pa_cvolume& volume, float level);
  static AudioOutput::Device deviceOf(const pa_sink_info& sink);
};

}  // namespace glidemate::host
