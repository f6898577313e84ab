#pragma once

// host/services/now_playing: what the desktop's media players are playing,
// their play/pause and track keys, and the current track's artwork. The
// choice of player and the replies live in NowPlayingService; a
// PlayerBackend talks to the players (by script, or MPRIS over D-Bus).

#include <asio/awaitable.hpp>
#include <optional>
#include <string>
#include <vector>

#include "kit/wire/bytes.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// The players of one kind of desktop. Failures are thrown as
// AppleScriptRunner::Failure, whose message the phone is shown.
class PlayerBackend {
 public:
  // A running player: how the backend finds it again (an application's
  // bundle id, a D-Bus name) and the name people know it by.
  struct Player {
    std::string id;
    std::string name;
    bool operator==(const Player&) const = default;
  };

  virtual ~PlayerBackend() = default;

  // The players running now, in the order they are to be asked.
  virtual asio::awaitable<std::vector<Player>> runningPlayers() = 0;
  // What `player` is playing: its name as `app`, the track, whether it
  // plays, and a key that changes exactly when the track's artwork does.
  virtual asio::awaitable<NowPlayingStatus> query(const Player& player) = 0;
  virtual asio::awaitable<void> perform(const Player& player, MediaAction action) = 0;
  // The current track's picture as the player has it (encoded image data),
  // or nothing.
  virtual asio::awaitable<std::optional<Bytes>> artwork(const Player& player) = 0;
};

}  // namespace glidemate::host
