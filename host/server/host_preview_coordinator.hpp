#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/server/connected_peer.hpp"
#include "host/server/host_clock.hpp"
#include "host/server/observable.hpp"
#include "kit/runtime/logger.hpp"
#include "kit/runtime/task.hpp"
#include "kit/runtime/task_set.hpp"
#include "kit/session/session.hpp"
#include "kit/wire/bytes.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

class ScreenPreviewService;

// The host's side of the screen preview: which sessions watch, starting
// the capture for the first of them and stopping it after the last, and
// sending each frame to every viewer.
//
// Frames are sent single-flight: while one is on its way (for at most half
// a second) the next ones are dropped, not queued. On top of that, a viewer
// still busy with an earlier frame is skipped rather than sent another, so
// a phone that stops reading holds at most one frame in its session and
// does not slow the others; and a viewer that missed a frame is sent a
// fresh one as soon as it can take it, so the last picture of a screen that
// went still is never lost.
//
// Owned by the host server through std::shared_ptr (frames from the
// capture thread reach it weakly). Main executor only.
class HostPreviewCoordinator : public std::enable_shared_from_this<HostPreviewCoordinator> {
 public:
  static constexpr const char* command = "screenPreview";
  static constexpr const char* bluetoothRefusal =
      "Screen preview needs Wi-Fi or a USB cable; Bluetooth is too slow for it.";
  static constexpr const char* captureFailure = "The Mac could not start capturing its screen.";
  static constexpr const char* turnedOffOnHost = "Screen preview was turned off on the Mac.";
  // Frames travel as icon chunks of at most this many bytes.
  static constexpr std::size_t chunkSize = 32768;
  // A frame still on its way after this long no longer holds the next back.
  static constexpr std::chrono::steady_clock::duration inFlightLimit = std::chrono::milliseconds(500);

  // Who a session belongs to, as the host server knows it.
  struct Directory {
    // The phone a live session authenticated, if it is still live.
    std::function<std::optional<std::string>(const Session&)> peerIdOf;
    // That phone's entry in the list of connected phones, if any.
    std::function<std::optional<ConnectedPeer>(const std::string&)> peerEntry;
  };

  // Without a service, every request for the preview fails as a capture
  // that could not start.
  static std::shared_ptr<HostPreviewCoordinator> make(asio::any_io_executor executor, ScreenPreviewService* service,
                                                      Directory directory, HostClock clock, Logger& logger);
  HostPreviewCoordinator(const HostPreviewCoordinator&) = delete;
  HostPreviewCoordinator& operator=(const HostPreviewCoordinator&) = delete;

  // The connected phones watching, in the order their sessions joined.
  Observable<std::vector<ConnectedPeer>> viewers;
  // The ids of the phones with a session watching.
  Observable<std::set<std::string>> viewingPeerIds;
  bool isViewing(const std::string& peerId) const { return viewingPeerIds->contains(peerId); }

  // The phone's request: `screen` or `cursor` starts or joins the preview
  // (and sets the mode for every viewer), `off` ends this session's.
  asio::awaitable<void> setScreenPreview(std::shared_ptr<Session> session, ScreenPreviewMode mode);
  // Ends one session's preview; no reply. Also for a session that ended.
  void stopPreview(const Session& session);
  // The user ends every preview; each viewer is told so.
  void stopAllPreviews();
  // Ends every preview without telling anyone (the host is stopping).
  void endAll();
  // One frame from the capture, for every viewer.
  void deliverFrame(Bytes jpeg);
  // The host's list of phones changed: the viewers follow.
  void refreshViewers();

  // The state behind the above, for the user interface and for tests.
  std::vector<std::shared_ptr<Session>> previewSessions() const;
  bool frameInFlight() const { return frameInFlight_; }
  std::chrono::steady_clock::time_point frameSentAt() const { return frameSentAt_; }
  // A stop of the capture is under way.
  bool isStopping() const { return !previewStopTask_.isDone(); }

 private:
  struct FanOut {
    std::size_t remaining = 0;
  };

  HostPreviewCoordinator(asio::any_io_executor executor, ScreenPreviewService* service, Directory directory,
                         HostClock clock, Logger& logger);

  // False when the session was not watching.
  bool endPreview(const Session& session);
  bool isPreviewing(const Session& session) const;
  void setFrameHandler();
  void sendLater(std::shared_ptr<Session> session, std::string reason);
  static asio::awaitable<void> reply(std::shared_ptr<Session> session, std::string reason);
  static asio::awaitable<void> sendFrame(std::weak_ptr<HostPreviewCoordinator> weak, std::shared_ptr<Session> session,
                                         std::shared_ptr<const std::vector<Message>> pieces,
                                         std::shared_ptr<FanOut> fanOut);
  void sent(const Session& session, FanOut& fanOut);

  asio::any_io_executor executor_;
  ScreenPreviewService* service_;
  Directory directory_;
  HostClock clock_;
  Logger& logger_;
  // In the order the sessions joined.
  std::vector<std::shared_ptr<Session>> previewSessions_;
  bool frameInFlight_ = false;
  std::chrono::steady_clock::time_point frameSentAt_{};
  Task previewStopTask_;
  // Viewers with a frame on its way to them, and viewers that missed one.
  std::set<const Session*> busy_;
  std::set<const Session*> missed_;
  TaskSet sends_{executor_};
};

}  // namespace glidemate::host
