#include "host/services/now_playing/mpris/mpris_player_backend.hpp"

#include <algorithm>
#include <map>
#include <string>

#include "host/services/apple_script_runner.hpp"
#include "kit/dbus/dbus_connection.hpp"

namespace glidemate::host {
namespace {

// Strings, not literals: arguments of an awaited call must not be
// temporaries, which g++ 12 destroys twice.
const std::string prefix = "org.mpris.MediaPlayer2.";
const std::string objectPath = "/org/mpris/MediaPlayer2";
const std::string rootInterface = "org.mpris.MediaPlayer2";
const std::string playerInterface = "org.mpris.MediaPlayer2.Player";
const std::string identityProperty = "Identity";
const std::string metadataProperty = "Metadata";
// What players report as the track id when they have no track.
constexpr const char* noTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

using Properties = std::map<std::string, sdbus::Variant>;

// The value when it has type T; players send all sorts.
template <class T>
std::optional<T> valueOf(const Properties& properties, const std::string& key) {
  const auto it = properties.find(key);
  if (it == properties.end() || !it->second.containsValueOfType<T>()) return std::nullopt;
  return it->second.get<T>();
}

std::string textOf(const Properties& properties, const std::string& key) {
  return valueOf<std::string>(properties, key).value_or("");
}

// A list as the standard says, or the single string some players send.
std::string artistsOf(const Properties& metadata) {
  if (auto single = valueOf<std::string>(metadata, "xesam:artist")) return *single;
  std::string joined;
  for (const auto& artist : valueOf<std::vector<std::string>>(metadata, "xesam:artist").value_or(std::vector<std::string>{})) {
    if (!joined.empty()) joined += ", ";
    joined += artist;
  }
  return joined;
}

std::string trackIdOf(const Properties& metadata) {
  auto id = valueOf<sdbus::ObjectPath>(metadata, "mpris:trackid");
  std::string text = id ? std::string(*id) : textOf(metadata, "mpris:trackid");
  return text == noTrack ? "" : text;
}

Properties metadataOf(const Properties& playerProperties) {
  return valueOf<Properties>(playerProperties, "Metadata").value_or(Properties{});
}

AppleScriptRunner::Failure failureOf(const DBusError& error) {
  return AppleScriptRunner::Failure::failed(error.message());
}

const char* methodFor(MediaAction action) {
  switch (action) {
    case MediaAction::playPause:
      return "PlayPause";
    case MediaAction::next:
      return "Next";
    case MediaAction::previous:
      return "Previous";
  }
  return "PlayPause";
}

}  // namespace

MprisPlayerBackend::MprisPlayerBackend(std::shared_ptr<DBusConnection> connection,
                                       std::unique_ptr<ArtworkFetcher> fetcher, std::chrono::milliseconds timeout)
    : connection_(std::move(connection)), fetcher_(std::move(fetcher)), timeout_(timeout) {}

MprisPlayerBackend::~MprisPlayerBackend() = default;

asio::awaitable<std::vector<PlayerBackend::Player>> MprisPlayerBackend::runningPlayers() {
  std::vector<Player> players;
  if (!connection_) co_return players;
  // Held by the coroutine: the backend may go while it waits.
  const auto connection = connection_;
  std::vector<std::string> names;
  try {
    auto bus = connection->proxy("org.freedesktop.DBus", "/org/freedesktop/DBus");
    auto list = bus->createMethodCall("org.freedesktop.DBus", "ListNames");
    auto reply = co_await connection->call(*bus, std::move(list), timeout_);
    reply >> names;
  } catch (const DBusError&) {
    co_return players;  // no bus, no players
  } catch (const sdbus::Error&) {
    co_return players;
  }
  std::erase_if(names, [](const std::string& name) { return !name.starts_with(prefix); });
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const bool aIsSpotify = a == spotifyBusName;
    const bool bIsSpotify = b == spotifyBusName;
    if (aIsSpotify != bIsSpotify) return aIsSpotify;
    return a < b;
  });

  for (const auto& name : names) {
    std::optional<sdbus::Variant> identity;
    try {
      auto root = connection->proxy(name, objectPath);
      identity = co_await connection->getProperty(*root, rootInterface, identityProperty, timeout_);
    } catch (const DBusError&) {
      // Gone, hung or broken: not a player to offer.
      continue;
    }
    const std::string suffix = name.substr(prefix.size());
    players.push_back(
        {name, identity->containsValueOfType<std::string>() ? identity->get<std::string>() : suffix});
  }
  co_return players;
}

asio::awaitable<NowPlayingStatus> MprisPlayerBackend::query(const Player& player) {
  if (!connection_) throw AppleScriptRunner::Failure::failed("There is no D-Bus session bus.");
  const auto connection = connection_;
  Properties properties;
  try {
    auto proxy = connection->proxy(player.id, objectPath);
    properties = co_await connection->getAllProperties(*proxy, playerInterface, timeout_);
  } catch (const DBusError& e) {
    throw failureOf(e);
  }
  const Properties metadata = metadataOf(properties);

  NowPlayingStatus status;
  status.app = player.name;
  status.isPlaying = valueOf<std::string>(properties, "PlaybackStatus") == "Playing";
  status.title = textOf(metadata, "xesam:title");
  status.artist = artistsOf(metadata);
  status.album = textOf(metadata, "xesam:album");
  std::string key = trackIdOf(metadata);
  if (key.empty()) key = textOf(metadata, "mpris:artUrl");
  if (!key.empty()) status.artworkKey = player.name + ":" + key;
  co_return status;
}

asio::awaitable<void> MprisPlayerBackend::perform(const Player& player, MediaAction action) {
  if (!connection_) throw AppleScriptRunner::Failure::failed("There is no D-Bus session bus.");
  const auto connection = connection_;
  try {
    auto proxy = connection->proxy(player.id, objectPath);
    auto call = proxy->createMethodCall(playerInterface, methodFor(action));
    co_await connection->call(*proxy, std::move(call), timeout_);
  } catch (const DBusError& e) {
    throw failureOf(e);
  }
}

asio::awaitable<std::optional<Bytes>> MprisPlayerBackend::artwork(const Player& player) {
  if (!connection_) co_return std::nullopt;
  const auto connection = connection_;
  std::optional<ArtworkUrl> url;
  try {
    auto proxy = connection->proxy(player.id, objectPath);
    const auto metadata = co_await connection->getProperty(*proxy, playerInterface, metadataProperty, timeout_);
    if (metadata.containsValueOfType<Properties>()) {
      url = ArtworkUrl::parse(textOf(metadata.get<Properties>(), "mpris:artUrl"));
    }
  } catch (const DBusError&) {
    co_return std::nullopt;
  }
  if (!url) co_return std::nullopt;
  co_return co_await fetcher_->fetch(*url);
}

}  // namespace glidemate::host
