#include "host/services/now_playing/now_playing_service.hpp"

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "host/services/apple_script_runner.hpp"
#include "host/services/image/jpeg_encoding.hpp"
#include "kit/runtime/cancellation.hpp"

namespace glidemate::host {

NowPlayingService::NowPlayingService(asio::any_io_executor executor, std::unique_ptr<PlayerBackend> backend)
    : backend_(std::move(backend)), imageJobs_(std::move(executor)) {}

asio::awaitable<NowPlayingStatus> NowPlayingService::status() {
  const auto players = co_await backend_->runningPlayers();
  std::exception_ptr firstFailure;
  std::vector<std::pair<PlayerBackend::Player, NowPlayingStatus>> answers;
  for (const auto& player : players) {
    std::exception_ptr failure;
    try {
      answers.emplace_back(player, co_await backend_->query(player));
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure && isCancellation(failure)) std::rethrow_exception(failure);
    if (failure && !firstFailure) firstFailure = failure;
  }

  if (answers.empty()) {
    current_.reset();
    hasTrack_ = false;
    if (firstFailure) std::rethrow_exception(firstFailure);
    co_return NowPlayingStatus{};
  }
  auto chosen = std::find_if(answers.begin(), answers.end(), [](const auto& a) { return a.second.isPlaying; });
  if (chosen == answers.end()) {
    chosen = std::find_if(answers.begin(), answers.end(), [](const auto& a) { return !a.second.title.empty(); });
  }
  if (chosen == answers.end()) chosen = answers.begin();
  current_ = chosen->first;
  hasTrack_ = !chosen->second.title.empty();
  co_return std::move(chosen->second);
}

asio::awaitable<void> NowPlayingService::perform(MediaAction action) {
  auto player = current_;
  if (!player) {
    const auto running = co_await backend_->runningPlayers();
    if (!running.empty()) player = running.front();
  }
  if (!player) throw AppleScriptRunner::Failure::failed("Open Music or Spotify first.");
  co_await backend_->perform(*player, action);
}

asio::awaitable<std::optional<Bytes>> NowPlayingService::artwork() {
  if (!current_) co_return std::nullopt;
  const auto player = *current_;
  std::exception_ptr failure;
  try {
    auto image = co_await backend_->artwork(player);
    if (!image) co_return std::nullopt;
    // A named function, not a temporary in the co_await: g++ 12 destroys
    // those twice.
    std::function<std::optional<Bytes>(BackgroundJobs::StopFlag)> encode =
        [image = std::move(*image)](BackgroundJobs::StopFlag) { return encodeJpeg(image, artworkSide); };
    co_return co_await imageJobs_.run(std::move(encode));
  } catch (...) {
    failure = std::current_exception();
  }
  if (isCancellation(failure)) std::rethrow_exception(failure);
  co_return std::nullopt;
}

}  // namespace glidemate::host
