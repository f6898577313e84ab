#pragma once

#include "host/services/apple_script_runner.hpp"
#include "host/services/now_playing/artwork_fetcher.hpp"
#include "host/services/now_playing/player_backend.hpp"
#include "host/services/now_playing/script/running_applications.hpp"

namespace glidemate::host {

// Spotify and Music, driven by scripts through the runner and read back by
// position. Scripts run synchronously: each call holds the caller until the
// player has answered, as the runner requires.
class ScriptPlayerBackend final : public PlayerBackend {
 public:
  static inline const Player spotify{"com.spotify.client", "Spotify"};
  static inline const Player music{"com.apple.Music", "Music"};

  ScriptPlayerBackend(AppleScriptRunner& runner, RunningApplications& applications, ArtworkFetcher& fetcher);

  // Spotify before Music, those of the two that run.
  asio::awaitable<std::vector<Player>> runningPlayers() override;
  asio::awaitable<NowPlayingStatus> query(const Player& player) override;
  asio::awaitable<void> perform(const Player& player, MediaAction action) override;
  // Spotify's by its https address, Music's as the data it holds.
  asio::awaitable<std::optional<Bytes>> artwork(const Player& player) override;

 private:
  AppleScriptRunner& runner_;
  RunningApplications& applications_;
  ArtworkFetcher& fetcher_;
};

}  // namespace glidemate::host
