#include "host/server/host_server.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <random>

#include "host/server/host_name.hpp"
#include "host/server/sourced_pairing.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/secure_random.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "sessions";

// A random (version 4) UUID in upper case, from the secure source.
std::string newUuid() {
  std::array<std::uint8_t, 16> bytes{};
  SecureRandom::fill(bytes);
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(digits[bytes[i] >> 4]);
    out.push_back(digits[bytes[i] & 0x0F]);
  }
  return out;
}

}  // namespace

std::shared_ptr<HostServer> HostServer::make(asio::any_io_executor executor,
                                             Configuration configuration) {
  return std::shared_ptr<HostServer>(new HostServer(std::move(executor), std::move(configuration)));
}

HostServer::HostServer(asio::any_io_executor executor, Configuration configuration)
    : pairing(executor, configuration.keys, configuration.clock),
      executor_(std::move(executor)),
      configuration_(std::move(configuration)),
      hostId_(loadHostId()),
      hostName_(configuration_.hostName.empty() ? localHostName() : configuration_.hostName),
      input_(configuration_.poster == nullptr
                 ? nullptr
                 : std::make_unique<InputServices>(*configuration_.poster, executor_,
                                                   configuration_.frames,
                                                   [] { return std::chrono::steady_clock::now(); })),
      dispatcher_(input_.get()) {}

HostServer::~HostServer() { stop(); }

std::string HostServer::loadHostId() {
  if (auto stored = configuration_.defaults.string("hostId")) return *stored;
  std::string id = newUuid();
  try {
    configuration_.defaults.set("hostId", id);
  } catch (const std::exception& e) {
    // The id still serves this run; phones will see a new host next time.
    configuration_.logger.log(category, std::string("Could not store the host id: ") + e.what());
  }
  return id;
}

void HostServer::log(const std::string& line) { configuration_.logger.log(category, line); }

void HostServer::report(const Activity& activity) {
  if (onActivity) onActivity(activity);
}

std::vector<std::shared_ptr<Session>> HostServer::liveSessions() const {
  std::vector<std::shared_ptr<Session>> out;
  for (const auto& l : live_) out.push_back(l.session);
  return out;
}

void HostServer::spawn(asio::awaitable<void> work) {
  const std::uint64_t id = nextTaskId_++;
  std::weak_ptr<HostServer> weak = weak_from_this();
  auto wrapped = [](asio::awaitable<void> inner, std::weak_ptr<HostServer> server,
                    std::uint64_t taskId) -> asio::awaitable<void> {
    co_await std::move(inner);
    // Drop the finished task later: destroying it here would cancel the
    // coroutine that is still running this line.
    if (auto s = server.lock()) {
      asio::post(s->executor_, [server, taskId] {
        if (auto alive = server.lock()) alive->tasks_.erase(taskId);
      });
    }
  };
  tasks_.emplace(id, Task(executor_, wrapped(std::move(work), weak, id)));
}

void HostServer::start() {
  if (listener_) return;
  listener_ = std::make_unique<LANListener>(executor_, hostId_, hostName_, configuration_.dnsSd,
                                            configuration_.logger, configuration_.port);
  std::weak_ptr<HostServer> weak = weak_from_this();
  LANListener* listener = listener_.get();
  spawn([](std::weak_ptr<HostServer> server, LANListener* l) -> asio::awaitable<void> {
    while (auto state = co_await l->states().next()) {
      auto s = server.lock();
      if (!s) co_return;
      s->listenerState.set(*state);
    }
  }(weak, listener));
  spawn([](std::weak_ptr<HostServer> server, LANListener* l) -> asio::awaitable<void> {
    while (auto transport = co_await l->connections().next()) {
      auto s = server.lock();
      if (!s) co_return;
      s->accept(*transport);
    }
  }(weak, listener));
  listener_->start();
}

void HostServer::stop() {
  tasks_.clear();
  live_.clear();
  pendingHandshakes_ = 0;
  pendingBySource_.clear();
  if (listener_) {
    listener_->stop();
    listener_.reset();
  }
  peers.set({});
  listenerState.set(LANListener::Idle{});
}

void HostServer::accept(std::shared_ptr<Transport> transport) {
  // Connections that never finish their handshake must not crowd out a real
  // phone: beyond the caps they are closed at once.
  const auto source = transport->remoteHost();
  const bool sourceFull = source && pendingBySource_[*source] >= configuration_.maxPendingHandshakesPerSource;
  if (pendingHandshakes_ >= configuration_.maxPendingHandshakes || sourceFull) {
    log("Session over " + std::string(rawValue(transport->kind())) +
        ": refused, too many unfinished handshakes" + (source ? " from " + *source : std::string()));
    if (source && pendingBySource_[*source] == 0) pendingBySource_.erase(*source);
    transport->close();
    return;
  }
  spawn(serve(std::move(transport)));
}

asio::awaitable<void> HostServer::serve(std::shared_ptr<Transport> transport) {
  return serveConnection(weak_from_this(), std::move(transport));
}

// Holds the server weakly: after every suspension it checks that the server
// is still there, so a stopped or destroyed server is never touched.
asio::awaitable<void> HostServer::serveConnection(std::weak_ptr<HostServer> weak,
                                                  std::shared_ptr<Transport> transport) {
  const TransportKind kind = transport->kind();
  const std::string kindText(rawValue(kind));
  const std::optional<std::string> source = transport->remoteHost();
  std::shared_ptr<Session> session;
  {
    auto self = weak.lock();
    if (!self) co_return;
    session = Session::make(self->executor_, transport, Session::Role::host,
                            PeerInfo{self->hostId_, self->hostName_},
                            std::make_shared<SourcedPairing>(weak, transport), std::nullopt,
                            self->configuration_.handshakeTimeout);
    ++self->pendingHandshakes_;
    if (source) ++self->pendingBySource_[*source];
    self->log("Session over " + kindText + ": handshake starting");
  }
  // Counted as unfinished until the handshake ends, however it ends.
  struct PendingGuard {
    std::weak_ptr<HostServer> server;
    std::optional<std::string> source;
    bool released = false;
    void release() {
      if (released) return;
      released = true;
      if (auto s = server.lock()) {
        if (s->pendingHandshakes_ > 0) --s->pendingHandshakes_;
        if (!source) return;
        auto it = s->pendingBySource_.find(*source);
        if (it != s->pendingBySource_.end() && --it->second == 0) s->pendingBySource_.erase(it);
      }
    }
    ~PendingGuard() { release(); }
  } pending{weak, source};
  struct CloseOnExit {
    std::shared_ptr<Session> session;
    ~CloseOnExit() { session->close(); }
  } closer{session};

  PeerInfo peer;
  std::optional<std::string> failure;
  try {
    peer = co_await session->performHandshake();
  } catch (const asio::system_error& e) {
    if (e.code() == asio::error::operation_aborted) throw;
    failure = failureReason(e);
  } catch (const std::exception& e) {
    failure = failureReason(e);
  }
  pending.release();
  ConnectedPeer connected;
  {
    auto self = weak.lock();
    if (!self) co_return;
    if (failure) {
      self->log("Session over " + kindText + ": handshake failed: " + *failure);
      self->report(HandshakeFailed{kind, *failure});
      co_return;
    }
    self->log("Session over " + kindText + ": " + peer.name + " connected");
    // Displays may have changed since the last phone came.
    if (self->input_) self->input_->input.refreshBounds();
    self->pairing.store().touch(peer.id);
    self->pairing.reloadPairedDevices();
    connected = ConnectedPeer{peer.id, peer.name, kind, self->configuration_.clock.wallNow()};
    self->removePeerEntry(peer.id);
    auto list = *self->peers;
    list.push_back(connected);
    self->peers.set(std::move(list));
    self->live_.push_back(LiveSession{session, kind, peer.id, connected});
    self->report(PeerConnected{connected});
  }

  auto messages = session->messages();
  while (auto message = co_await messages.next()) {
    auto self = weak.lock();
    if (!self) co_return;
    co_await self->dispatcher_.handle(*session, std::move(*message));
  }

  auto self = weak.lock();
  if (!self) co_return;
  // Nothing the phone was doing may outlive it: no held button, no coasting.
  if (self->input_) {
    self->input_->input.releaseAll();
    self->input_->scroll->stop();
  }
  self->removeSession(*session);
  // Another session of the same phone (over another transport) keeps it
  // listed; only its last session ending takes the phone off the list.
  self->removePeerEntry(peer.id);
  for (const auto& l : self->live_) {
    if (l.peerId == peer.id) {
      auto remaining = *self->peers;
      remaining.push_back(l.peer);
      self->peers.set(std::move(remaining));
      break;
    }
  }
  self->log("Session over " + kindText + ": " + peer.name + " ended");
  self->report(PeerEnded{connected});
}

void HostServer::removePeerEntry(const std::string& peerId) {
  auto list = *peers;
  std::erase_if(list, [&](const ConnectedPeer& p) { return p.id == peerId; });
  peers.set(std::move(list));
}

void HostServer::removeSession(const Session& session) {
  std::erase_if(live_, [&](const LiveSession& l) { return l.session.get() == &session; });
}

void HostServer::closeSessionsOf(const std::string& peerId) {
  for (const auto& l : live_) {
    if (l.peerId == peerId) l.session->close();
  }
}

void HostServer::setPaused(bool paused) {
  isPaused.set(paused);
  if (!paused) return;
  for (const auto& l : live_) l.session->close();
}

void HostServer::disconnect(const std::string& peerId) {
  auto set = *disconnectedPeers;
  set.insert(peerId);
  disconnectedPeers.set(std::move(set));
  closeSessionsOf(peerId);
}

void HostServer::allow(const std::string& peerId) {
  auto set = *disconnectedPeers;
  set.erase(peerId);
  disconnectedPeers.set(std::move(set));
}

void HostServer::forget(const std::string& peerId) {
  pairing.store().remove(peerId);
  pairing.reloadPairedDevices();
  allow(peerId);
  closeSessionsOf(peerId);
}

void HostServer::broadcast(const Event& event) {
  if (live_.empty()) return;
  auto sessions = liveSessions();
  spawn([](std::vector<std::shared_ptr<Session>> targets, Event e) -> asio::awaitable<void> {
    for (const auto& session : targets) {
      Message message = Message::Event{e};
      try {
        co_await session->send(std::move(message));
      } catch (const std::exception&) {
        // That phone is leaving; the others still get the event.
      }
    }
  }(std::move(sessions), event));
}

std::optional<std::string> HostServer::refusalFor(const PeerInfo& peer) const {
  if (*isPaused) return std::string(pausedRefusal);
  if (disconnectedPeers->contains(peer.id)) return std::string(disconnectedRefusal);
  return std::nullopt;
}

}  // namespace glidemate::host
