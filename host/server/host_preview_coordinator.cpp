#include "host/server/host_preview_coordinator.hpp"

#include <asio/post.hpp>
#include <algorithm>

#include "host/services/screen_preview/screen_preview_service.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/protocol.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "preview";

}  // namespace

std::shared_ptr<HostPreviewCoordinator> HostPreviewCoordinator::make(asio::any_io_executor executor,
                                                                     ScreenPreviewService* service,
                                                                     Directory directory, HostClock clock,
                                                                     Logger& logger) {
  return std::shared_ptr<HostPreviewCoordinator>(
      new HostPreviewCoordinator(std::move(executor), service, std::move(directory), std::move(clock), logger));
}

HostPreviewCoordinator::HostPreviewCoordinator(asio::any_io_executor executor, ScreenPreviewService* service,
                                               Directory directory, HostClock clock, Logger& logger)
    : executor_(std::move(executor)),
      service_(service),
      directory_(std::move(directory)),
      clock_(std::move(clock)),
      logger_(logger) {}

std::vector<std::shared_ptr<Session>> HostPreviewCoordinator::previewSessions() const { return previewSessions_; }

void HostPreviewCoordinator::refreshViewers() {
  std::vector<ConnectedPeer> list;
  std::set<std::string> ids;
  for (const auto& session : previewSessions_) {
    const auto peerId = directory_.peerIdOf ? directory_.peerIdOf(*session) : std::nullopt;
    if (!peerId) continue;
    ids.insert(*peerId);
    const auto entry = directory_.peerEntry ? directory_.peerEntry(*peerId) : std::nullopt;
    if (entry && std::find(list.begin(), list.end(), *entry) == list.end()) list.push_back(*entry);
  }
  viewers.set(std::move(list));
  viewingPeerIds.set(std::move(ids));
}

asio::awaitable<void> HostPreviewCoordinator::setScreenPreview(std::shared_ptr<Session> session,
                                                               ScreenPreviewMode mode) {
  if (mode == ScreenPreviewMode::off) {
    stopPreview(*session);
    co_return;
  }
  // The mode is shared: the last phone to ask sets it for every viewer.
  if (service_ != nullptr) service_->setMode(mode);
  if (session->transport()->kind() == TransportKind::ble) {
    // Named: g++ 12 destroys some temporaries of a co_await expression twice.
    std::string refusal = bluetoothRefusal;
    co_await reply(session, std::move(refusal));
    co_return;
  }
  if (!isPreviewing(*session)) {
    previewSessions_.push_back(session);
    refreshViewers();
  }
  // Nothing here holds the coordinator across a suspension: the host may
  // go meanwhile, and with it the service.
  std::weak_ptr<HostPreviewCoordinator> weak = weak_from_this();
  if (!previewStopTask_.isDone()) {
    // A stop still under way finishes before a new start.
    co_await previewStopTask_.join();
    auto self = weak.lock();
    if (!self || !isPreviewing(*session)) co_return;
  }
  if (service_ != nullptr && service_->hasStream()) {
    // A newcomer (or a viewer changing mode) sees the screen at once, even
    // a still one.
    service_->requestFrame();
    co_return;
  }
  std::optional<std::string> failure;
  if (service_ == nullptr) {
    failure = "no screen capture on this host";
  } else {
    setFrameHandler();
    try {
      co_await service_->start();
    } catch (const asio::system_error& e) {
      if (e.code() == asio::error::operation_aborted) throw;
      failure = e.what();
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (!failure) co_return;
  auto self = weak.lock();
  if (!self) co_return;
  logger_.log(category, "Screen preview: could not start capturing: " + *failure);
  // Only the asking session leaves; others that joined the same start
  // meanwhile get its answer from their own request.
  endPreview(*session);
  self.reset();
  std::string reason = captureFailure;
  co_await reply(session, std::move(reason));
}

bool HostPreviewCoordinator::isPreviewing(const Session& session) const {
  return std::any_of(previewSessions_.begin(), previewSessions_.end(),
                     [&](const auto& s) { return s.get() == &session; });
}

void HostPreviewCoordinator::setFrameHandler() {
  // Runs on the capture thread: only hands the frame over.
  service_->setOnFrame([weak = weak_from_this(), executor = executor_](Bytes jpeg) {
    asio::post(executor, [weak, jpeg = std::move(jpeg)]() mutable {
      if (auto self = weak.lock()) self->deliverFrame(std::move(jpeg));
    });
  });
}

bool HostPreviewCoordinator::endPreview(const Session& session) {
  const auto it = std::find_if(previewSessions_.begin(), previewSessions_.end(),
                               [&](const auto& s) { return s.get() == &session; });
  if (it == previewSessions_.end()) return false;
  previewSessions_.erase(it);
  missed_.erase(&session);
  frameInFlight_ = false;
  refreshViewers();
  return true;
}

void HostPreviewCoordinator::stopPreview(const Session& session) {
  if (!endPreview(session)) return;
  if (!previewSessions_.empty() || service_ == nullptr || !service_->isActive()) return;
  previewStopTask_ = Task(executor_, [](ScreenPreviewService& service) -> asio::awaitable<void> {
    co_await service.stop();
  }(*service_));
}

void HostPreviewCoordinator::stopAllPreviews() {
  const auto viewing = previewSessions_;
  for (const auto& session : viewing) {
    stopPreview(*session);
    sendLater(session, turnedOffOnHost);
  }
}

void HostPreviewCoordinator::endAll() {
  const auto viewing = previewSessions_;
  for (const auto& session : viewing) stopPreview(*session);
  sends_.cancelAll();
  busy_.clear();
}

void HostPreviewCoordinator::sendLater(std::shared_ptr<Session> session, std::string reason) {
  sends_.spawn(reply(std::move(session), std::move(reason)));
}

asio::awaitable<void> HostPreviewCoordinator::reply(std::shared_ptr<Session> session, std::string reason) {
  const Message failed = Message::Event{Event::Failed{command, std::move(reason)}};
  try {
    co_await session->send(failed);
  } catch (const asio::system_error& e) {
    if (e.code() == asio::error::operation_aborted) throw;
  } catch (const std::exception&) {
    // That phone is leaving; nothing to tell it any more.
  }
}

void HostPreviewCoordinator::deliverFrame(Bytes jpeg) {
  if (previewSessions_.empty() || jpeg.empty()) return;
  const auto now = clock_.monotonicNow();
  if (frameInFlight_ && now - frameSentAt_ <= inFlightLimit) {
    for (const auto& session : previewSessions_) missed_.insert(session.get());
    return;
  }
  std::vector<std::shared_ptr<Session>> ready;
  for (const auto& session : previewSessions_) {
    if (busy_.contains(session.get())) {
      missed_.insert(session.get());
    } else {
      ready.push_back(session);
    }
  }
  if (ready.empty()) return;
  frameInFlight_ = true;
  frameSentAt_ = now;
  auto pieces = std::make_shared<std::vector<Message>>();
  const auto total = static_cast<std::uint32_t>(jpeg.size());
  for (auto& chunk : IconAssembler::chunks(jpeg, chunkSize)) {
    pieces->push_back(Message::AppIconChunk{std::string(ScreenPreview::frameId), total, chunk.offset,
                                            std::move(chunk.bytes)});
  }
  auto fanOut = std::make_shared<FanOut>(FanOut{ready.size()});
  for (auto& session : ready) {
    busy_.insert(session.get());
    missed_.erase(session.get());
    sends_.spawn(sendFrame(weak_from_this(), std::move(session), pieces, fanOut));
  }
}

asio::awaitable<void> HostPreviewCoordinator::sendFrame(std::weak_ptr<HostPreviewCoordinator> weak,
                                                        std::shared_ptr<Session> session,
                                                        std::shared_ptr<const std::vector<Message>> pieces,
                                                        std::shared_ptr<FanOut> fanOut) {
  // Every path out of here, a cancellation included, frees the viewer.
  struct Done {
    std::weak_ptr<HostPreviewCoordinator> coordinator;
    std::shared_ptr<Session> session;
    std::shared_ptr<FanOut> fanOut;
    ~Done() {
      if (auto self = coordinator.lock()) self->sent(*session, *fanOut);
    }
  } done{std::move(weak), session, std::move(fanOut)};
  for (const Message& piece : *pieces) {
    try {
      co_await session->send(piece);
    } catch (const asio::system_error& e) {
      if (e.code() == asio::error::operation_aborted) throw;
      break;
    } catch (const std::exception&) {
      // The phone is going; its session's end takes it off the preview.
      break;
    }
  }
}

void HostPreviewCoordinator::sent(const Session& session, FanOut& fanOut) {
  busy_.erase(&session);
  if (fanOut.remaining > 0 && --fanOut.remaining == 0) frameInFlight_ = false;
  if (frameInFlight_ || service_ == nullptr) return;
  // A viewer that missed frames while it or the others were busy gets the
  // screen as it is now.
  const bool owed = std::any_of(previewSessions_.begin(), previewSessions_.end(), [&](const auto& s) {
    return missed_.contains(s.get()) && !busy_.contains(s.get());
  });
  if (owed) service_->requestFrame();
}

}  // namespace glidemate::host
