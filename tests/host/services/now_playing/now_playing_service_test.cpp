// The service's choice of player, its failures and its artwork, over the
// script backend with a fake runner: the scripts are checked as the players
// would receive them.
#include "host/services/now_playing/now_playing_service.hpp"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include "host/services/fake_apple_script_runner.hpp"
#include "host/services/now_playing/script/script_player_backend.hpp"
#include "tests/support/now_playing_fakes.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/test_images.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate::host {
namespace {

using Failure = AppleScriptRunner::Failure;
using glidemate::testing::runAwaitable;
using glidemate::testing::thrown;
using List = ScriptValue::List;

using glidemate::testing::FakeArtworkFetcher;
using glidemate::testing::FakeRunningApplications;

ScriptValue text(std::string s) { return {std::move(s)}; }
ScriptValue flag(bool b) { return {b}; }
// A player's answer to the status script.
ScriptValue track(bool playing, std::string title, std::string key = "") {
  return {List{flag(playing), text(title), text(title.empty() ? "" : "Artist"),
               text(title.empty() ? "" : "Album"), text(std::move(key))}};
}

std::string statusScript(const std::string& app, const std::string& keyExpression) {
  return "tell application \"" + app +
         "\"\n    set isPlaying to (player state is playing)\n    try\n        set t to current track\n"
         "        return {isPlaying, name of t, artist of t, album of t, " +
         keyExpression +
         "}\n    on error\n        return {isPlaying, \"\", \"\", \"\", \"\"}\n    end try\nend tell";
}
const std::string spotifyStatus = statusScript("Spotify", "artwork url of t");
const std::string musicStatus = statusScript("Music", "database ID of t as string");
const std::string spotifyArtwork = "tell application \"Spotify\" to get artwork url of current track";
const std::string musicArtwork = "tell application \"Music\" to get data of artwork 1 of current track";

class NowPlayingServiceTest : public ::testing::Test {
 protected:
  NowPlayingServiceTest() { running.ids = {"org.example.editor", "com.apple.Music", "com.spotify.client"}; }

  NowPlayingStatus status() { return runAwaitable(context, service.status()); }
  void perform(MediaAction action) { runAwaitable(context, service.perform(action)); }
  std::optional<Bytes> artwork() { return runAwaitable(context, service.artwork()); }
  std::optional<Failure> statusFailure() {
    return thrown<Failure>([&] { status(); });
  }

  asio::io_context context;
  FakeAppleScriptRunner runner;
  FakeRunningApplications running;
  FakeArtworkFetcher fetcher;
  NowPlayingService service{context.get_executor(),
                            std::make_unique<ScriptPlayerBackend>(runner, running, fetcher)};
};

TEST_F(NowPlayingServiceTest, AsksSpotifyThenMusicAndReadsTheAnswerByPosition) {
  runner.enqueue(track(false, ""));
  runner.enqueue(ScriptValue{List{flag(true), text("Blue in Green"), text("Miles Davis"), text("Kind of Blue"),
                                  text("1234")}});
  EXPECT_EQ(status(), (NowPlayingStatus{"Music", "Blue in Green", "Miles Davis", "Kind of Blue", true,
                                        "Music:1234"}));
  EXPECT_EQ(runner.runs(), (std::vector<FakeAppleScriptRunner::Run>{{spotifyStatus, "Spotify"},
                                                                    {musicStatus, "Music"}}));
  EXPECT_EQ(service.current(), ScriptPlayerBackend::music);
  EXPECT_TRUE(service.hasTrack());
}

TEST_F(NowPlayingServiceTest, ChoosesThePlayingPlayerElseTheOneWithATrackElseTheFirst) {
  struct Case {
    const char* name;
    ScriptValue spotify;
    ScriptValue music;
    std::string chosenApp;
    bool hasTrack;
  };
  const Case cases[] = {
      {"Music plays, Spotify paused on a track", track(false, "Paused song"), track(true, "Playing song"), "Music",
       true},
      {"both paused, only Spotify has a track", track(false, "Song"), track(false, ""), "Spotify", true},
      {"both paused, only Music has a track", track(false, ""), track(false, "Song"), "Music", true},
      {"both play: the first", track(true, "One"), track(true, "Two"), "Spotify", true},
      {"nothing anywhere: the first", track(false, ""), track(false, ""), "Spotify", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    runner.enqueue(c.spotify);
    runner.enqueue(c.music);
    EXPECT_EQ(status().app, c.chosenApp);
    EXPECT_EQ(service.current()->name, c.chosenApp);
    EXPECT_EQ(service.hasTrack(), c.hasTrack);
  }
}

TEST_F(NowPlayingServiceTest, AFailingPlayerIsPassedOverWhileAnotherAnswers) {
  runner.enqueue(Failure::failed("Spotify got an error: Connection is invalid."));
  runner.enqueue(track(false, "Song", "77"));
  EXPECT_EQ(status(), (NowPlayingStatus{"Music", "Song", "Artist", "Album", false, "Music:77"}));
}

TEST_F(NowPlayingServiceTest, WhenNoPlayerAnswersTheFirstFailureIsThrownAndTheChoiceForgotten) {
  runner.enqueue(track(true, "Song"));
  status();
  runner.enqueue(Failure::notPermitted("Spotify"));
  runner.enqueue(Failure::failed("Music is busy"));
  EXPECT_EQ(statusFailure(), Failure::notPermitted("Spotify"));
  EXPECT_FALSE(service.current());
  EXPECT_FALSE(service.hasTrack());
}

TEST_F(NowPlayingServiceTest, NoPlayerRunning) {
  running.ids = {"org.example.editor"};
  EXPECT_EQ(status(), NowPlayingStatus{});
  EXPECT_FALSE(service.hasTrack());
  EXPECT_FALSE(service.current());
  EXPECT_EQ(thrown<Failure>([&] { perform(MediaAction::playPause); }),
            Failure::failed("Open Music or Spotify first."));
  EXPECT_FALSE(artwork());
  EXPECT_TRUE(runner.runs().empty());
}

TEST_F(NowPlayingServiceTest, OddAnswersReadAsEmptyFields) {
  const std::pair<const char*, ScriptValue> cases[] = {
      {"not a list", text("playing")},
      {"a short list", ScriptValue{List{flag(true)}}},
      {"wrong kinds", ScriptValue{List{text("true"), ScriptValue{std::int64_t{3}}, ScriptValue{List{}},
                                       ScriptValue{}, ScriptValue{std::int64_t{1234}}}}},
  };
  running.ids = {"com.apple.Music"};
  for (const auto& [name, answer] : cases) {
    SCOPED_TRACE(name);
    runner.enqueue(answer);
    const auto s = status();
    EXPECT_EQ(s.app, "Music");
    EXPECT_EQ(s.title, "");
    EXPECT_EQ(s.artist, "");
    EXPECT_FALSE(s.artworkKey);
    EXPECT_FALSE(service.hasTrack());
  }
  runner.enqueue(ScriptValue{List{flag(true)}});
  EXPECT_TRUE(status().isPlaying);
}

TEST_F(NowPlayingServiceTest, KeysGoToTheChosenPlayerElseTheFirstRunning) {
  perform(MediaAction::playPause);
  EXPECT_EQ(runner.runs().back(), (FakeAppleScriptRunner::Run{"tell application \"Spotify\" to playpause", "Spotify"}));

  runner.enqueue(track(false, ""));
  runner.enqueue(track(true, "Song"));
  status();
  perform(MediaAction::next);
  perform(MediaAction::previous);
  const auto& runs = runner.runs();
  EXPECT_EQ(runs[runs.size() - 2], (FakeAppleScriptRunner::Run{"tell application \"Music\" to next track", "Music"}));
  EXPECT_EQ(runs.back(), (FakeAppleScriptRunner::Run{"tell application \"Music\" to previous track", "Music"}));
  EXPECT_EQ(service.current(), ScriptPlayerBackend::music);
}

TEST_F(NowPlayingServiceTest, ARefusedKeyFailsWithTheRunnersFailureNamingTheCallersApp) {
  running.ids = {"com.apple.Music"};
  runner.enqueue(Failure::notPermitted("Music"));
  EXPECT_EQ(thrown<Failure>([&] { perform(MediaAction::playPause); }), Failure::notPermitted("Music"));
  EXPECT_EQ(runner.runs().back().app, "Music");
}

class NowPlayingArtworkTest : public NowPlayingServiceTest {
 protected:
  void choose(const PlayerBackend::Player& player) {
    running.ids = {player.id};
    runner.enqueue(track(true, "Song"));
    status();
  }
};

TEST_F(NowPlayingArtworkTest, SpotifysHttpsArtworkIsFetchedAndSentAsA400PixelJpeg) {
  choose(ScriptPlayerBackend::spotify);
  runner.enqueue(text("https://i.scdn.co/image/ab67616d0000b273"));
  fetcher.answer = testing::makeImage("png", 640, 640);
  const auto jpeg = artwork();
  ASSERT_TRUE(jpeg);
  const auto decoded = testing::decodeImage(*jpeg);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->format, "jpeg");
  EXPECT_EQ(decoded->width, 400);
  EXPECT_EQ(decoded->height, 400);
  EXPECT_EQ(runner.runs().back(), (FakeAppleScriptRunner::Run{spotifyArtwork, "Spotify"}));
  EXPECT_EQ(fetcher.asked, (std::vector{ArtworkUrl{ArtworkUrl::Https{"https://i.scdn.co/image/ab67616d0000b273"}}}));
}

TEST_F(NowPlayingArtworkTest, SpotifyArtworkAnywhereButHttpsIsNotFetched) {
  choose(ScriptPlayerBackend::spotify);
  fetcher.answer = testing::makeImage("png", 64, 64);
  for (const char* address : {"http://i.scdn.co/image/1", "HTTPS://i.scdn.co/image/1", "Https://i.scdn.co/image/1",
                              "file:///tmp/cover.png", "", "https://"}) {
    runner.enqueue(text(address));
    EXPECT_FALSE(artwork()) << address;
  }
  runner.enqueue(ScriptValue{});
  EXPECT_FALSE(artwork());
  EXPECT_TRUE(fetcher.asked.empty());
}

TEST_F(NowPlayingArtworkTest, MusicsArtworkDataIsReencodedAndSmallCoversKeepTheirSize) {
  choose(ScriptPlayerBackend::music);
  runner.enqueue(ScriptValue{testing::makeImage("jpeg", 300, 300)});
  const auto jpeg = artwork();
  ASSERT_TRUE(jpeg);
  const auto decoded = testing::decodeImage(*jpeg);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 300);
  EXPECT_EQ(decoded->height, 300);
  EXPECT_EQ(runner.runs().back(), (FakeAppleScriptRunner::Run{musicArtwork, "Music"}));
}

TEST_F(NowPlayingArtworkTest, AnyFailureOnTheWayGivesNoArtwork) {
  choose(ScriptPlayerBackend::music);
  runner.enqueue(Failure::failed("Can't get artwork 1 of current track."));
  EXPECT_FALSE(artwork());
  runner.enqueue(ScriptValue{Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}});
  EXPECT_FALSE(artwork());
  runner.enqueue(text("a name, not data"));
  EXPECT_FALSE(artwork());

  choose(ScriptPlayerBackend::spotify);
  runner.enqueue(text("https://i.scdn.co/image/1"));
  fetcher.answer = std::nullopt;
  EXPECT_FALSE(artwork());
}

}  // namespace
}  // namespace glidemate::host
