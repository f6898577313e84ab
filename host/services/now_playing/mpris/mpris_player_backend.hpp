#pragma once

#include <chrono>
#include <memory>

#include "host/services/now_playing/artwork_fetcher.hpp"
#include "host/services/now_playing/player_backend.hpp"

namespace glidemate {
class DBusConnection;
}

namespace glidemate::host {

// The desktop's media players as MPRIS 2 shows them on the session bus:
// every name org.mpris.MediaPlayer2.* is a player. Each call waits at most
// `timeout` for its player; a player that does not tell its name in that
// time is left out, and one that fails a later call fails with the bus's
// message.
class MprisPlayerBackend final : public PlayerBackend {
 public:
  static constexpr std::chrono::milliseconds defaultTimeout{2000};
  static constexpr const char* spotifyBusName = "org.mpris.MediaPlayer2.spotify";

  // Without a connection (no session bus) no player ever runs. Artwork
  // comes through `fetcher`.
  MprisPlayerBackend(std::shared_ptr<DBusConnection> connection, std::unique_ptr<ArtworkFetcher> fetcher,
                     std::chrono::milliseconds timeout = defaultTimeout);
  ~MprisPlayerBackend() override;

  // Sorted by bus name, Spotify's first; each named by its Identity.
  asio::awaitable<std::vector<Player>> runningPlayers() override;
  // Identity as `app`; PlaybackStatus "Playing"; title, artists (joined
  // with ", ") and album from the metadata; the artwork key is the app and
  // the track id (or, without one, the art URL) joined by ':'.
  asio::awaitable<NowPlayingStatus> query(const Player& player) override;
  // PlayPause, Next or Previous.
  asio::awaitable<void> perform(const Player& player, MediaAction action) override;
  // From the metadata's art URL: https, or a local file.
  asio::awaitable<std::optional<Bytes>> artwork(const Player& player) override;

 private:
  std::shared_ptr<DBusConnection> connection_;
  std::unique_ptr<ArtworkFetcher> fetcher_;
  std::chrono::milliseconds timeout_;
};

}  // namespace glidemate::host
