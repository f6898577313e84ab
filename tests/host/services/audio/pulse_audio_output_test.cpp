#include "host/services/audio/pulse/pulse_audio_output.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <cstring>

#include "host/services/audio/audio_service.hpp"
#include "tests/support/pulse_audio_daemon.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using namespace std::chrono_literals;
using glidemate::testing::PulseAudioDaemon;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;

class PulseAudioOutputTest : public ::testing::Test {
 protected:
  PulseAudioDaemon daemon;
  asio::io_context io;
  CollectingLogger logger;
  std::shared_ptr<PulseAudioOutput> output =
      std::make_shared<PulseAudioOutput>(io.get_executor(), logger, PulseAudioOutput::Options{daemon.server(), 5s, 50ms});

  std::optional<AudioOutput::Device> device() { return runAwaitable(io, output->defaultDevice()); }
};

TEST_F(PulseAudioOutputTest, ReadsAndWritesTheDefaultSink) {
  const auto sink = device();
  ASSERT_TRUE(sink.has_value());
  EXPECT_EQ(sink->name, "Null Output");
  EXPECT_EQ(sink->volume, 1.0f);
  EXPECT_EQ(sink->muted, false);

  runAwaitable(io, output->setVolume(sink->id, 0.3f));
  runAwaitable(io, output->setMuted(sink->id, true));
  const auto after = device();
  EXPECT_NEAR(*after->volume, 0.3f, 1e-4);
  EXPECT_EQ(after->muted, true);
  // As any other program on the desktop sees it.
  EXPECT_NE(daemon.pactl({"get-sink-volume", "null"}).find("/  30% /"), std::string::npos);
  EXPECT_EQ(daemon.pactl({"get-sink-mute", "null"}), "Mute: yes\n");
}

TEST_F(PulseAudioOutputTest, ANewVolumeKeepsTheBalance) {
  daemon.pactl({"set-sink-volume", "null", "100%", "50%"});
  runAwaitable(io, output->setVolume(device()->id, 0.3f));
  const auto volume = daemon.pactl({"get-sink-volume", "null"});
  EXPECT_NE(volume.find("front-left: 26214 /  40%"), std::string::npos) << volume;
  EXPECT_NE(volume.find("front-right: 13107 /  20%"), std::string::npos) << volume;
}

// Changes made by other programs reach the service, which tells only what
// the phone would show differently.
TEST_F(PulseAudioOutputTest, ChangesMadeElsewhereReachTheService) {
  AudioService service(io.get_executor(), output);
  std::vector<VolumeStatus> told;
  service.start([&](const VolumeStatus& s) { told.push_back(s); });
  // The service reads the status it starts from before this answer comes
  // (the server answers in order), so the change below is news to it.
  runAwaitable(io, service.status());

  daemon.pactl({"set-sink-volume", "@DEFAULT_SINK@", "45%"});
  ASSERT_TRUE(runUntil(io, [&] { return !told.empty(); }));
  EXPECT_NEAR(told.back().level, 0.45f, 1e-4);
  EXPECT_EQ(told.back().deviceName, "Null Output");

  daemon.pactl({"load-module", "module-null-sink", "sink_name=second", "sink_properties=device.description=Second"});
  daemon.pactl({"set-default-sink", "second"});
  ASSERT_TRUE(runUntil(io, [&] { return told.back().deviceName == "Second"; }));
  EXPECT_EQ(told.back(), (VolumeStatus{1, false, "Second", true}));
}

TEST_F(PulseAudioOutputTest, AServerThatGoesAwayIsFoundAgain) {
  int notified = 0;
  output->watch([&] { ++notified; });
  ASSERT_TRUE(device().has_value());

  daemon.stop();
  ASSERT_TRUE(runUntil(io, [&] { return notified > 0 && !output->isConnected(); }));
  EXPECT_EQ(device(), std::nullopt);
  EXPECT_EQ(AudioService::statusOf(device()).deviceName, "No output");

  daemon.start();
  ASSERT_TRUE(runUntil(io, [&] { return output->isConnected(); }));
  EXPECT_EQ(device()->name, "Null Output");
  EXPECT_EQ(logger.count("No sound server"), 1U);
}

TEST(PulseAudioOutputWithoutServer, ThereIsNoDeviceAndItIsSaidOnce) {
  glidemate::testing::TempDir folder;
  asio::io_context io;
  CollectingLogger logger;
  AudioService service(io.get_executor(), std::make_shared<PulseAudioOutput>(
                                              io.get_executor(), logger,
                                              PulseAudioOutput::Options{"unix:" + (folder / "native"), 5s, 10ms}));
  EXPECT_EQ(runAwaitable(io, service.status()), (VolumeStatus{0, false, "No output", false}));
  runAwaitable(io, service.setVolume(0.5f));
  EXPECT_EQ(runAwaitable(io, service.status()), (VolumeStatus{0, false, "No output", false}));
  EXPECT_EQ(logger.count("No sound server"), 1U);
}

// A socket that takes the connection and never says a word: the request
// gives up after its time-out, and the executor serves others meanwhile.
TEST(PulseAudioOutputWithoutServer, AServerThatNeverAnswersIsGivenUpOn) {
  glidemate::testing::TempDir folder;
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = folder / "native";
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);

  asio::io_context io;
  CollectingLogger logger;
  auto output = std::make_shared<PulseAudioOutput>(io.get_executor(), logger,
                                                   PulseAudioOutput::Options{"unix:" + path, 100ms, 10ms});
  std::optional<std::optional<AudioOutput::Device>> answer;
  asio::co_spawn(io, output->defaultDevice(),
                 [&](std::exception_ptr, std::optional<AudioOutput::Device> d) { answer = std::move(d); });
  bool otherWorkRan = false;
  asio::post(io, [&] { otherWorkRan = !answer.has_value(); });
  ASSERT_TRUE(runUntil(io, [&] { return answer.has_value(); }));
  EXPECT_TRUE(otherWorkRan);
  EXPECT_EQ(*answer, std::nullopt);
  output.reset();
  ::close(listener);
}

}  // namespace
}  // namespace glidemate::host
