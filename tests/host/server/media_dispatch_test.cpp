// The media commands through the host server, over the script player
// backend with a fake runner and a recording event poster.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/input/recording_event_poster.hpp"
#include "host/server/host_server.hpp"
#include "host/services/fake_apple_script_runner.hpp"
#include "host/services/now_playing/script/script_player_backend.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/protocol.hpp"
#include "tests/host/server/paired_phone.hpp"
#include "tests/support/now_playing_fakes.hpp"
#include "tests/support/test_images.hpp"

namespace glidemate::host {
namespace {

using Failure = AppleScriptRunner::Failure;
using List = ScriptValue::List;
using testing::runUntil;

ScriptValue musicTrack(bool playing, std::string title) {
  return {List{ScriptValue{playing}, ScriptValue{std::move(title)}, ScriptValue{std::string("Artist")},
               ScriptValue{std::string("Album")}, ScriptValue{std::string("42")}}};
}

Message nowPlaying(NowPlayingStatus status) { return Message::Event{Event::NowPlaying{std::move(status)}}; }
Message failed(std::string command, std::string reason) {
  return Message::Event{Event::Failed{std::move(command), std::move(reason)}};
}

class MediaDispatchTest : public ::testing::Test {
 protected:
  MediaDispatchTest() { running.ids = {"com.apple.Music"}; }

  HostServices services() {
    HostServices s;
    s.nowPlaying = std::make_unique<NowPlayingService>(io.get_executor(),
                                                       std::make_unique<ScriptPlayerBackend>(runner, running, fetcher));
    return s;
  }

  // The auxiliary-control key types posted, one per press and release.
  std::vector<std::int64_t> mediaKeysPosted() const {
    std::vector<std::int64_t> types;
    for (const auto& event : poster.events()) {
      if (const auto* key = std::get_if<SystemDefinedEvent>(&event)) types.push_back(key->data1 >> 16);
    }
    return types;
  }

  asio::io_context io;
  testing::MemoryKeychain hostKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-media-test-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  RecordingEventPoster poster;
  FakeAppleScriptRunner runner;
  testing::FakeRunningApplications running;
  testing::FakeArtworkFetcher fetcher;
  std::vector<std::chrono::steady_clock::duration> slept;
  std::vector<std::string> automationShownFor;
  std::shared_ptr<HostServer> server = HostServer::make(
      io.get_executor(),
      HostServer::Configuration{
          .keys = hostKeys,
          .defaults = defaults,
          .logger = logger,
          .hostName = "Desk",
          .poster = &poster,
          .sleep = [this](std::chrono::steady_clock::duration d) -> asio::awaitable<void> {
            slept.push_back(d);
            co_return;
          },
          .openAutomationSettings = [this](const std::string& app) { automationShownFor.push_back(app); }},
      services());
  testing::PairedPhone phone{io, *server};

  void TearDown() override {
    server.reset();
    io.restart();
    io.poll();
    std::filesystem::remove(settings);
  }
};

TEST_F(MediaDispatchTest, GetNowPlayingAnswersThePlayersStatus) {
  runner.enqueue(musicTrack(true, "Song"));
  EXPECT_EQ(phone.exchange(Command::GetNowPlaying{}),
            std::vector{nowPlaying({"Music", "Song", "Artist", "Album", true, "Music:42"})});
}

TEST_F(MediaDispatchTest, WithoutATrackTheMediaKeyIsPressedThenTheStatusReadBack) {
  running.ids.clear();
  EXPECT_EQ(phone.exchange(Command::Media{MediaAction::next}), std::vector{nowPlaying({})});
  EXPECT_EQ(mediaKeysPosted(), (std::vector<std::int64_t>{17, 17}));
  EXPECT_EQ(slept, std::vector<std::chrono::steady_clock::duration>{CommandDispatcher::settleDelay});
  EXPECT_TRUE(runner.runs().empty());
}

TEST_F(MediaDispatchTest, WithoutATrackOrADisplayMediaIsNotAvailable) {
  running.ids.clear();
  auto headless = HostServer::make(
      io.get_executor(), HostServer::Configuration{.keys = hostKeys, .defaults = defaults, .logger = logger, .hostName = "Desk"},
      services());
  testing::PairedPhone other{io, *headless, "Q", "Other phone"};
  EXPECT_EQ(other.exchange(Command::Media{MediaAction::playPause}),
            std::vector{failed(std::string(Unavailable::media.command), std::string(Unavailable::media.reason))});
}

TEST_F(MediaDispatchTest, WithATrackThePlayerIsToldAndItsNewStatusReplied) {
  runner.enqueue(musicTrack(true, "Song"));
  phone.exchange(Command::GetNowPlaying{});
  runner.enqueue(ScriptValue{});
  runner.enqueue(musicTrack(false, "Song"));
  EXPECT_EQ(phone.exchange(Command::Media{MediaAction::playPause}),
            std::vector{nowPlaying({"Music", "Song", "Artist", "Album", false, "Music:42"})});
  EXPECT_EQ(runner.runs()[1], (FakeAppleScriptRunner::Run{"tell application \"Music\" to playpause", "Music"}));
  EXPECT_TRUE(mediaKeysPosted().empty());
  EXPECT_EQ(slept.size(), 1U);
}

TEST_F(MediaDispatchTest, ARefusedPlayerAsksForPermissionOncePerApp) {
  runner.enqueue(musicTrack(true, "Song"));
  phone.exchange(Command::GetNowPlaying{});
  const auto refused = failed("media", "Allow Glidemate to control Music in Privacy & Security \u2192 Automation.");
  for (int attempt = 0; attempt < 2; ++attempt) {
    runner.enqueue(Failure::notPermitted("Music"));
    EXPECT_EQ(phone.exchange(Command::Media{MediaAction::playPause}), std::vector{refused});
  }
  EXPECT_EQ(automationShownFor, std::vector<std::string>{"Music"});
  EXPECT_TRUE(slept.empty());

  runner.enqueue(Failure::failed("Music got an error: Can't get current track."));
  EXPECT_EQ(phone.exchange(Command::GetNowPlaying{}),
            std::vector{failed("media", "Music got an error: Can't get current track.")});
}

TEST_F(MediaDispatchTest, ArtworkTravelsAsChunksUnderItsReservedId) {
  runner.enqueue(musicTrack(true, "Song"));
  phone.exchange(Command::GetNowPlaying{});
  runner.enqueue(ScriptValue{testing::makeImage("png", 640, 640)});
  const auto chunks = phone.exchange(Command::GetNowPlayingArtwork{});
  IconAssembler assembler;
  ASSERT_EQ(chunks.size(), 1U);
  const auto& chunk = std::get<Message::AppIconChunk>(chunks[0].value);
  EXPECT_EQ(chunk.bundleId, NowPlaying::artworkId);
  const auto whole = assembler.accept(chunk.bundleId, chunk.totalBytes, chunk.offset, chunk.chunk);
  ASSERT_TRUE(std::holds_alternative<IconAssembler::Complete>(whole));
  const auto image = testing::decodeImage(std::get<IconAssembler::Complete>(whole).data);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->format, "jpeg");
  EXPECT_EQ(image->width, 400);

  // No artwork: nothing at all, so the ping after it is answered next.
  runner.enqueue(Failure::failed("No artwork."));
  const std::size_t before = phone.received.size();
  phone.send(Message::Command{Command::GetNowPlayingArtwork{}});
  phone.send(Message::Ping{9});
  ASSERT_TRUE(runUntil(io, [&] { return phone.received.size() > before; }));
  EXPECT_EQ(phone.received.back(), Message{Message::Pong{9}});
  EXPECT_EQ(phone.received.size(), before + 1);
}

}  // namespace
}  // namespace glidemate::host
