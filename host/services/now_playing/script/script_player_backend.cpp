#include "host/services/now_playing/script/script_player_backend.hpp"

#include <algorithm>
#include <array>

namespace glidemate::host {
namespace {

std::string textAt(const ScriptValue& list, std::size_t position) {
  const auto* item = list.item(position);
  return item != nullptr ? item->stringValue().value_or("") : "";
}

std::string verb(MediaAction action) {
  switch (action) {
    case MediaAction::playPause:
      return "playpause";
    case MediaAction::next:
      return "next track";
    case MediaAction::previous:
      return "previous track";
  }
  return "playpause";
}

}  // namespace

ScriptPlayerBackend::ScriptPlayerBackend(AppleScriptRunner& runner, RunningApplications& applications,
                                         ArtworkFetcher& fetcher)
    : runner_(runner), applications_(applications), fetcher_(fetcher) {}

asio::awaitable<std::vector<PlayerBackend::Player>> ScriptPlayerBackend::runningPlayers() {
  const auto running = applications_.bundleIdentifiers();
  std::vector<Player> players;
  for (const auto& player : {spotify, music}) {
    if (std::find(running.begin(), running.end(), player.id) != running.end()) players.push_back(player);
  }
  co_return players;
}

asio::awaitable<NowPlayingStatus> ScriptPlayerBackend::query(const Player& player) {
  // Music names a track by its database id; Spotify's artwork address
  // stands for the track there, as it changes exactly when the track does.
  const std::string trackKey = player == music ? "database ID of t as string" : "artwork url of t";
  const std::string source = "tell application \"" + player.name +
                             "\"\n    set isPlaying to (player state is playing)\n    try\n        set t to current "
                             "track\n        return {isPlaying, name of t, artist of t, album of t, " +
                             trackKey +
                             "}\n    on error\n        return {isPlaying, \"\", \"\", \"\", \"\"}\n    end try\nend tell";
  const ScriptValue reply = runner_.run(source, player.name);

  NowPlayingStatus status;
  status.app = player.name;
  const auto* playing = reply.item(1);
  status.isPlaying = playing != nullptr && playing->booleanValue().value_or(false);
  status.title = textAt(reply, 2);
  status.artist = textAt(reply, 3);
  status.album = textAt(reply, 4);
  if (const auto key = textAt(reply, 5); !key.empty()) status.artworkKey = player.name + ":" + key;
  co_return status;
}

asio::awaitable<void> ScriptPlayerBackend::perform(const Player& player, MediaAction action) {
  runner_.run("tell application \"" + player.name + "\" to " + verb(action), player.name);
  co_return;
}

asio::awaitable<std::optional<Bytes>> ScriptPlayerBackend::artwork(const Player& player) {
  if (player == spotify) {
    const auto address =
        runner_.run("tell application \"Spotify\" to get artwork url of current track", "Spotify").stringValue();
    const auto url = address ? ArtworkUrl::parse(*address) : std::nullopt;
    if (!url || !std::holds_alternative<ArtworkUrl::Https>(url->value)) co_return std::nullopt;
    co_return co_await fetcher_.fetch(*url);
  }
  if (player == music) {
    const auto reply = runner_.run("tell application \"Music\" to get data of artwork 1 of current track", "Music");
    if (const auto* data = reply.data()) co_return *data;
  }
  co_return std::nullopt;
}

}  // namespace glidemate::host
