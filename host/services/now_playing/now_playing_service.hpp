#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <cstdint>
#include <memory>
#include <optional>

#include "host/services/now_playing/player_backend.hpp"
#include "kit/runtime/background_jobs.hpp"

namespace glidemate::host {

// What is playing, for the phone's media screen: it picks one player among
// those running (the first playing, else the first with a track, else the
// first), remembers it for the play/pause and track keys and the artwork,
// and answers the empty status when no player runs. One instance; main
// executor.
class NowPlayingService {
 public:
  // Artwork is sent at most this many pixels on its longest side.
  static constexpr std::uint32_t artworkSide = 400;

  NowPlayingService(asio::any_io_executor executor, std::unique_ptr<PlayerBackend> backend);

  // The player the last status() chose; none at first and when none runs.
  const std::optional<PlayerBackend::Player>& current() const { return current_; }
  // Whether that player reported a track with a title.
  bool hasTrack() const { return hasTrack_; }

  // Asks every running player and answers for the chosen one. A player that
  // fails is passed over when another answers; when none answers, the first
  // failure is thrown.
  asio::awaitable<NowPlayingStatus> status();
  // Play/pause or a track key to the current player, or else to the first
  // running one. Throws AppleScriptRunner::Failure.
  asio::awaitable<void> perform(MediaAction action);
  // The current track's artwork as a JPEG of at most artworkSide pixels a
  // side; nothing when there is none or anything fails on the way.
  asio::awaitable<std::optional<Bytes>> artwork();

 private:
  std::unique_ptr<PlayerBackend> backend_;
  std::optional<PlayerBackend::Player> current_;
  bool hasTrack_ = false;
  // Images are decoded and encoded here, off the main executor.
  BackgroundJobs imageJobs_;
};

}  // namespace glidemate::host
