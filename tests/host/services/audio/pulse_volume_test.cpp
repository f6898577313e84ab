#include "host/services/audio/pulse/pulse_volume.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace glidemate::host {
namespace {

pa_cvolume volumeOf(std::vector<pa_volume_t> channels) {
  pa_cvolume v{};
  v.channels = static_cast<std::uint8_t>(channels.size());
  for (std::size_t i = 0; i < channels.size(); ++i) v.values[i] = channels[i];
  return v;
}

std::vector<pa_volume_t> channelsOf(const pa_cvolume& v) { return {v.values, v.values + v.channels}; }

constexpr pa_volume_t full = PA_VOLUME_NORM;

TEST(PulseVolumeTest, TheLevelIsTheAverageOfTheChannels) {
  EXPECT_FLOAT_EQ(*PulseVolume::averageLevel(volumeOf({full, full})), 1.0f);
  EXPECT_FLOAT_EQ(*PulseVolume::averageLevel(volumeOf({full, full / 2})), 0.75f);
  // Turned up past 100 % the level says so; the service clamps it.
  EXPECT_FLOAT_EQ(*PulseVolume::averageLevel(volumeOf({full * 2})), 2.0f);
  EXPECT_FLOAT_EQ(*PulseVolume::averageLevel(volumeOf(std::vector<pa_volume_t>(PA_CHANNELS_MAX, full / 4))), 0.25f);

  EXPECT_EQ(PulseVolume::averageLevel(volumeOf({})), std::nullopt);
  pa_cvolume tooMany = volumeOf({full});
  tooMany.channels = PA_CHANNELS_MAX + 1;
  EXPECT_EQ(PulseVolume::averageLevel(tooMany), std::nullopt);
  EXPECT_EQ(PulseVolume::averageLevel(volumeOf({full, PA_VOLUME_MAX + 1})), std::nullopt);
}

TEST(PulseVolumeTest, ANewLevelKeepsTheBalance) {
  // Left twice as loud as right before and after; the average is 30 %.
  EXPECT_EQ(channelsOf(PulseVolume::withAverageLevel(volumeOf({full, full / 2}), 0.3f)),
            (std::vector<pa_volume_t>{26214, 13107}));
  // Silent channels have no balance to keep.
  EXPECT_EQ(channelsOf(PulseVolume::withAverageLevel(volumeOf({0, 0}), 0.4f)), (std::vector<pa_volume_t>{26214, 26214}));
  EXPECT_EQ(channelsOf(PulseVolume::withAverageLevel(volumeOf(std::vector<pa_volume_t>(PA_CHANNELS_MAX, full)), 0.5f)),
            std::vector<pa_volume_t>(PA_CHANNELS_MAX, full / 2));
  EXPECT_EQ(channelsOf(PulseVolume::withAverageLevel(volumeOf({full, 0}), 1e30f)),
            (std::vector<pa_volume_t>{PA_VOLUME_MAX, 0}));
}

TEST(PulseVolumeTest, ASinkBecomesADevice) {
  pa_sink_info sink{};
  sink.index = 4;
  sink.volume = volumeOf({full / 2, full / 2});
  sink.mute = 1;
  sink.description = "Speakers";
  EXPECT_EQ(PulseVolume::deviceOf(sink), (AudioOutput::Device{4, 0.5f, true, "Speakers"}));
  sink.description = nullptr;
  sink.volume = volumeOf({});
  EXPECT_EQ(PulseVolume::deviceOf(sink), (AudioOutput::Device{4, std::nullopt, true, std::nullopt}));
}

}  // namespace
}  // namespace glidemate::host
