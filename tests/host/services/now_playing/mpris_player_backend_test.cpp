// Now playing over MPRIS, against python-dbusmock players on a private
// session bus.
#include "host/services/now_playing/mpris/mpris_player_backend.hpp"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include <fstream>

#include "host/services/apple_script_runner.hpp"
#include "host/services/now_playing/curl/curl_artwork_fetcher.hpp"
#include "host/services/now_playing/now_playing_service.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/support/mpris_players.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_images.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using Failure = AppleScriptRunner::Failure;
using Player = PlayerBackend::Player;
using glidemate::testing::MprisPlayerMock;
using glidemate::testing::runAwaitable;
using glidemate::testing::thrown;
using glidemate::testing::UnansweringPeer;
using Metadata = MprisPlayerMock::Metadata;

const std::string spotifyName = "org.mpris.MediaPlayer2.spotify";
const std::string vlcName = "org.mpris.MediaPlayer2.vlc";

sdbus::Variant text(const char* s) { return sdbus::Variant(std::string(s)); }

class MprisTest : public ::testing::Test {
 protected:
  std::unique_ptr<NowPlayingService> makeService(std::shared_ptr<DBusConnection> on,
                                                 std::chrono::milliseconds timeout = 5s) {
    return std::make_unique<NowPlayingService>(io.get_executor(),
                                               std::make_unique<MprisPlayerBackend>(std::move(on), fetcher(), timeout));
  }
  template <class T>
  T run(asio::awaitable<T> work) {
    return runAwaitable(io, std::move(work));
  }

  asio::io_context io;
  glidemate::testing::PrivateBus bus;
  std::shared_ptr<DBusConnection> connection = DBusConnection::openAddress(io.get_executor(), bus.address());
  std::unique_ptr<ArtworkFetcher> fetcher() {
    return std::make_unique<CurlArtworkFetcher>(io.get_executor(), CurlArtworkFetcher::Options{});
  }
};

TEST_F(MprisTest, EveryMprisNameIsAPlayerSpotifyFirstThenByNameEachByItsIdentity) {
  MprisPlayerMock vlc(bus, vlcName, "VLC media player");
  MprisPlayerMock audacious(bus, "org.mpris.MediaPlayer2.audacious", "Audacious");
  MprisPlayerMock spotify(bus, spotifyName, "Spotify");
  bus.startMock({"org.example.NotAPlayer", "/org/example", "org.example.NotAPlayer"}, "org.example.NotAPlayer");
  MprisPlayerBackend backend(connection, fetcher());
  EXPECT_EQ(run(backend.runningPlayers()),
            (std::vector<Player>{{spotifyName, "Spotify"},
                                 {"org.mpris.MediaPlayer2.audacious", "Audacious"},
                                 {vlcName, "VLC media player"}}));
}

class TwoPlayersTest : public MprisTest {
 protected:
  TwoPlayersTest() {
    spotify.set("Paused", {{"xesam:title", text("Paused song")}, {"mpris:trackid", sdbus::Variant(sdbus::ObjectPath("/spotify/1"))}});
    vlc.set("Playing", {{"xesam:title", text("Playing song")},
                        {"xesam:artist", sdbus::Variant(std::vector<std::string>{"Ann", "Bo"})},
                        {"xesam:album", text("Live")},
                        {"mpris:trackid", sdbus::Variant(sdbus::ObjectPath("/org/videolan/vlc/track/7"))}});
  }

  MprisPlayerMock spotify{bus, spotifyName, "Spotify"};
  MprisPlayerMock vlc{bus, vlcName, "VLC media player"};
  std::unique_ptr<NowPlayingService> service = makeService(connection);
};

TEST_F(TwoPlayersTest, ThePlayingPlayerIsChosenOverAPausedOneWithATrack) {
  EXPECT_EQ(run(service->status()), (NowPlayingStatus{"VLC media player", "Playing song", "Ann, Bo", "Live", true,
                                                      "VLC media player:/org/videolan/vlc/track/7"}));
  EXPECT_TRUE(service->hasTrack());

  vlc.set("Stopped", {});
  const auto paused = run(service->status());
  EXPECT_EQ(paused.app, "Spotify");
  EXPECT_EQ(paused.title, "Paused song");
  EXPECT_FALSE(paused.isPlaying);
  EXPECT_EQ(paused.artworkKey, "Spotify:/spotify/1");
}

TEST_F(TwoPlayersTest, KeysReachTheChosenPlayerAndTheStatusFollows) {
  run(service->status());
  run(service->perform(MediaAction::playPause));
  EXPECT_EQ(vlc.calls("PlayPause"), 1U);
  EXPECT_EQ(spotify.calls("PlayPause"), 0U);
  run(service->perform(MediaAction::next));
  run(service->perform(MediaAction::previous));
  EXPECT_EQ(vlc.calls("Next"), 1U);
  EXPECT_EQ(vlc.calls("Previous"), 1U);
  // Both are paused on a track now: the first, Spotify, is chosen.
  EXPECT_EQ(run(service->status()).app, "Spotify");
}

TEST_F(TwoPlayersTest, AnErrorReplyFailsWithItsMessage) {
  vlc.setMethod("Next", "raise dbus.exceptions.DBusException('The playlist is empty.', name='org.example.Empty')");
  run(service->status());
  EXPECT_EQ(thrown<Failure>([&] { run(service->perform(MediaAction::next)); }),
            Failure::failed("The playlist is empty."));
}

TEST_F(MprisTest, OddPropertiesReadAsEmptyFields) {
  MprisPlayerMock player(bus, vlcName, "VLC");
  MprisPlayerBackend backend(connection, fetcher());
  const Player vlc{vlcName, "VLC"};
  struct Case {
    const char* name;
    sdbus::Variant status;
    sdbus::Variant metadata;
    NowPlayingStatus expected;
  };
  const Case cases[] = {
      {"status and metadata of the wrong types", sdbus::Variant(std::int32_t{1}), text("Song"),
       NowPlayingStatus{"VLC", "", "", "", false, std::nullopt}},
      {"fields of the wrong types", text("Playing"),
       sdbus::Variant(Metadata{{"xesam:title", sdbus::Variant(std::int32_t{5})},
                               {"xesam:artist", sdbus::Variant(std::vector<std::int32_t>{1})},
                               {"xesam:album", sdbus::Variant(true)},
                               {"mpris:trackid", sdbus::Variant(std::int64_t{9})}}),
       NowPlayingStatus{"VLC", "", "", "", true, std::nullopt}},
      {"one artist as text, a track id as text", text("Paused"),
       sdbus::Variant(Metadata{{"xesam:title", text("Song")}, {"xesam:artist", text("Solo")},
                               {"mpris:trackid", text("/track/1")}}),
       NowPlayingStatus{"VLC", "Song", "Solo", "", false, "VLC:/track/1"}},
      {"no track id: the art address", text("Playing"),
       sdbus::Variant(Metadata{{"mpris:trackid", sdbus::Variant(sdbus::ObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack"))},
                               {"mpris:artUrl", text("https://example.org/a.jpg")}}),
       NowPlayingStatus{"VLC", "", "", "", true, "VLC:https://example.org/a.jpg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    player.setPlayerProperty("PlaybackStatus", c.status);
    player.setPlayerProperty("Metadata", c.metadata);
    EXPECT_EQ(run(backend.query(vlc)), c.expected);
  }
}

TEST_F(MprisTest, PlayersThatDoNotAnswerAreLeftOutOrFailWithinTheTimeOut) {
  MprisPlayerMock good(bus, vlcName, "VLC");
  good.set("Playing", {{"xesam:title", text("Song")}});
  UnansweringPeer hung(bus, "org.mpris.MediaPlayer2.hung", UnansweringPeer::Behaviour::silent);
  UnansweringPeer gone(bus, "org.mpris.MediaPlayer2.gone", UnansweringPeer::Behaviour::vanishWhenCalled);
  MprisPlayerBackend backend(connection, fetcher(), 200ms);
  EXPECT_EQ(run(backend.runningPlayers()), (std::vector<Player>{{vlcName, "VLC"}}));

  // The bus's own words, whichever of its time-outs came first.
  auto failsPlainly = [&](auto call) {
    const auto failure = thrown<Failure>(call);
    return failure && std::holds_alternative<Failure::Failed>(failure->which());
  };
  EXPECT_TRUE(failsPlainly([&] { run(backend.query({"org.mpris.MediaPlayer2.hung", "hung"})); }));
  UnansweringPeer leaving(bus, "org.mpris.MediaPlayer2.leaving", UnansweringPeer::Behaviour::vanishWhenCalled);
  EXPECT_TRUE(failsPlainly([&] { run(backend.perform({"org.mpris.MediaPlayer2.leaving", "leaving"}, MediaAction::next)); }));
}

TEST_F(MprisTest, WithoutABusNoPlayerRuns) {
  auto expectNoPlayer = [&](NowPlayingService& service) {
    EXPECT_EQ(run(service.status()), NowPlayingStatus{});
    EXPECT_EQ(thrown<Failure>([&] { run(service.perform(MediaAction::playPause)); }),
              Failure::failed("Open Music or Spotify first."));
  };
  expectNoPlayer(*makeService(nullptr));

  MprisPlayerMock player(bus, vlcName, "VLC");
  auto service = makeService(connection);
  bus.stop();
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return !connection->isOpen(); }));
  expectNoPlayer(*service);
}

TEST_F(MprisTest, ArtworkComesFromALocalFileAndNowhereUnsafe) {
  glidemate::testing::TempDir dir;
  const auto cover = glidemate::testing::makeImage("png", 640, 640);
  std::ofstream(dir / "cover one.png", std::ios::binary).write(reinterpret_cast<const char*>(cover.data()), cover.size());
  std::ofstream(dir / "notes.txt") << "not a picture";
  MprisPlayerMock player(bus, vlcName, "VLC");
  auto service = makeService(connection);
  auto artworkAt = [&](const std::string& url) {
    player.set("Playing", {{"xesam:title", text("Song")}, {"mpris:artUrl", sdbus::Variant(url)}});
    run(service->status());
    return run(service->artwork());
  };

  const auto jpeg = artworkAt("file://" + (dir.path() / "cover%20one.png").string());
  ASSERT_TRUE(jpeg);
  const auto decoded = glidemate::testing::decodeImage(*jpeg);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->format, "jpeg");
  EXPECT_EQ(decoded->width, 400);
  EXPECT_FALSE(artworkAt("file://" + dir / "notes.txt"));
  EXPECT_FALSE(artworkAt("http://127.0.0.1:9/cover.png"));
  EXPECT_FALSE(artworkAt(dir / "cover one.png"));
}

}  // namespace
}  // namespace glidemate::host
