#include "host/services/audio/audio_service.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <cmath>

#include "host/services/audio/fake_audio_output.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runAwaitable;
using Device = AudioOutput::Device;

Device speakers(std::optional<float> volume, std::optional<bool> muted) {
  return Device{7, volume, muted, "Speakers"};
}

class AudioServiceTest : public ::testing::Test {
 protected:
  asio::io_context io;
  std::shared_ptr<FakeAudioOutput> output = std::make_shared<FakeAudioOutput>(speakers(0.5f, false));
  AudioService service{io.get_executor(), output};

  VolumeStatus status() { return runAwaitable(io, service.status()); }
  void setVolume(float level) { runAwaitable(io, service.setVolume(level)); }
  void setMuted(bool muted) { runAwaitable(io, service.setMuted(muted)); }
  // Runs whatever is ready until nothing is.
  void settle() {
    io.restart();
    while (io.poll() != 0) io.restart();
  }
};

TEST(AudioServiceStatus, WhatThePhoneIsShown) {
  struct Case {
    const char* what;
    std::optional<Device> device;
    VolumeStatus shown;
  };
  const std::vector<Case> cases{
      {"no output device", std::nullopt, {0, false, "No output", false}},
      {"an ordinary device", speakers(0.25f, true), {0.25f, true, "Speakers", true}},
      {"no volume control", speakers(std::nullopt, false), {0, false, "Speakers", false}},
      {"turned up past 150 %", speakers(1.7f, false), {1, false, "Speakers", true}},
      {"no mute control", speakers(0.5f, std::nullopt), {0.5f, false, "Speakers", true}},
      {"no name", Device{1, 0.5f, false, std::nullopt}, {0.5f, false, "Output", true}},
      {"an empty name", Device{1, 0.5f, false, ""}, {0.5f, false, "Output", true}},
  };
  for (const auto& c : cases) EXPECT_EQ(AudioService::statusOf(c.device), c.shown) << c.what;
}

TEST_F(AudioServiceTest, SettingTheVolumeClampsItAndUnmutesOnlyARaise) {
  struct Case {
    const char* what;
    float level;
    bool mutedBefore;
    std::vector<FakeAudioOutput::VolumeWrite> volumeWrites;
    std::vector<FakeAudioOutput::MuteWrite> muteWrites;
  };
  const std::vector<Case> cases{
      {"too loud", 1.5f, false, {{7, 1.0f}}, {}},
      {"below silence", -0.2f, false, {{7, 0.0f}}, {}},
      {"a raise on a muted device", 0.3f, true, {{7, 0.3f}}, {{7, false}}},
      {"not a number", NAN, true, {}, {}},
      {"silence on a muted device", 0.0f, true, {{7, 0.0f}}, {}},
  };
  for (const auto& c : cases) {
    output->device = speakers(0.5f, c.mutedBefore);
    output->volumeWrites.clear();
    output->muteWrites.clear();
    setVolume(c.level);
    EXPECT_EQ(output->volumeWrites, c.volumeWrites) << c.what;
    EXPECT_EQ(output->muteWrites, c.muteWrites) << c.what;
  }
  // The last one: silent and still muted.
  EXPECT_EQ(status(), (VolumeStatus{0, true, "Speakers", true}));
}

TEST_F(AudioServiceTest, WritesGoOnlyWhereTheDeviceHasTheControl) {
  output->device = speakers(std::nullopt, std::nullopt);
  setVolume(0.8f);
  setMuted(true);
  output->device = std::nullopt;
  setVolume(0.8f);
  setMuted(true);
  EXPECT_TRUE(output->volumeWrites.empty());
  EXPECT_TRUE(output->muteWrites.empty());

  output->device = speakers(0.5f, false);
  setMuted(true);
  EXPECT_EQ(output->muteWrites, (std::vector<FakeAudioOutput::MuteWrite>{{7, true}}));
}

TEST_F(AudioServiceTest, ChangesReachTheCallbackOnlyWhenWhatIsShownChanged) {
  std::vector<VolumeStatus> told;
  service.start([&](const VolumeStatus& s) { told.push_back(s); });
  ASSERT_TRUE(output->isWatched());
  settle();

  output->device->volume = 0.2f;
  output->notify();
  settle();
  // A notification for something the phone does not show (another sink,
  // a device going idle) tells nothing.
  output->notify();
  settle();
  ASSERT_EQ(told.size(), 1U);
  // A new default device does, and so does losing it.
  output->device = Device{9, 0.2f, false, "Headphones"};
  output->notify();
  settle();
  output->device = std::nullopt;
  output->notify();
  settle();
  EXPECT_EQ(told, (std::vector<VolumeStatus>{{0.2f, false, "Speakers", true},
                                             {0.2f, false, "Headphones", true},
                                             {0, false, "No output", false}}));
}

TEST(AudioServiceLifetime, GoingAwayStopsTheNotifications) {
  asio::io_context io;
  auto output = std::make_shared<FakeAudioOutput>(speakers(0.5f, false));
  {
    AudioService service(io.get_executor(), output);
    service.start([](const VolumeStatus&) {});
  }
  EXPECT_FALSE(output->isWatched());
  io.run();
}

}  // namespace
}  // namespace glidemate::host
