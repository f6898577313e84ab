#include "host/server/host_server.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "host/server/host_name.hpp"
#include "host/server/sourced_pairing.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/session/secure_random.hpp"
#include "kit/transport/stream_transport.hpp"
#include "kit/wire/protocol.hpp"
#include "kit/wire/overload.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "sessions";

// Hands each value of a stream that the server owns to `handle`, for as
// long as the server exists. The server is held only between values.
template <class T, class StreamOf, class Handle>
asio::awaitable<void> observe(std::weak_ptr<HostServer> weak, StreamOf streamOf, Handle handle) {
  for (;;) {
    std::optional<T> value;
    {
      auto self = weak.lock();
      if (!self) co_return;
      auto next = streamOf(*self).next();
      self.reset();
      value = co_await std::move(next);
    }
    if (!value) co_return;
    auto self = weak.lock();
    if (!self) co_return;
    handle(*self, std::move(*value));
  }
}

// Tells a waiter that a piece of work has ended, however it ended.
struct Completion {
  explicit Completion(const asio::any_io_executor& executor) : ended(executor) {}
  Notifier ended;
  bool done = false;
};

asio::awaitable<void> signalling(asio::awaitable<void> work, std::shared_ptr<Completion> completion) {
  std::exception_ptr failure;
  try {
    co_await std::move(work);
  } catch (...) {
    failure = std::current_exception();
  }
  completion->done = true;
  completion->ended.notifyAll();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

std::shared_ptr<HostServer> HostServer::make(asio::any_io_executor executor, Configuration configuration,
                                             HostServices services) {
  return std::shared_ptr<HostServer>(
      new HostServer(std::move(executor), std::move(configuration), std::move(services)));
}

// g++ 12 with the sanitizers reads the listener state's initial variant as
// possibly uninitialised on the constructor's unwinding path; it is not.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
HostServer::HostServer(asio::any_io_executor executor, Configuration configuration, HostServices services)
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
      services_(std::move(services)),
      commands_(CommandDispatcher::Configuration{
          .services = services_,
          .input = input_.get(),
          .logger = configuration_.logger,
          .broadcast = [this](const Event& event) { broadcast(event); },
          .sleep = configuration_.sleep,
          .openAutomationSettings = configuration_.openAutomationSettings,
      }),
      dispatcher_(input_.get(), commands_) {}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

HostServer::~HostServer() { stop(); }

std::string HostServer::loadHostId() {
  if (auto stored = configuration_.defaults.string("hostId")) return *stored;
  std::string id = SecureRandom::uuid();
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
  // The observers reach the listener only while it is still the server's
  // own: a value that was on its way when stop() replaced it ends them.
  spawn([](std::weak_ptr<HostServer> server, LANListener* l) -> asio::awaitable<void> {
    while (auto state = co_await l->states().next()) {
      auto s = server.lock();
      if (!s || s->listener_.get() != l) co_return;
      s->listenerState.set(*state);
    }
  }(weak, listener));
  spawn([](std::weak_ptr<HostServer> server, LANListener* l) -> asio::awaitable<void> {
    while (auto transport = co_await l->connections().next()) {
      auto s = server.lock();
      if (!s || s->listener_.get() != l) co_return;
      s->accept(*transport);
    }
  }(weak, listener));
  listener_->start();
  startCable();
  startBluetooth();
  // Phones follow volume changes made on this computer.
  if (services_.audio) {
    services_.audio->start([weak](const VolumeStatus& status) {
      if (auto self = weak.lock()) self->broadcast(Event::Volume{status});
    });
  }
}

void HostServer::stop() {
  tasks_.clear();
  usbTasks_.clear();
  usbmux_->stop();
  bleHost_->stop();
  // The state task is gone, so the peripheral's last word is not heard.
  bluetoothState.set(BLEPeripheralHost::State::idle);
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
  std::vector<Event> greeting;
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
    greeting = self->services_.mirroredSettings();
  }

  for (auto& event : greeting) {
    Message message = Message::Event{std::move(event)};
    try {
      co_await session->send(std::move(message));
    } catch (const std::exception&) {
      // A phone that is already leaving is cleaned up below.
    }
  }

  auto messages = session->messages();
  while (auto message = co_await messages.next()) {
    auto self = weak.lock();
    if (!self) co_return;
    co_await self->dispatcher_.handle(*session, std::move(*message));
  }

  auto self = weak.lock();
  if (!self) co_return;
  // Nothing the phone was doing may outlive it: no held button, no
  // coasting, no laser dot.
  if (self->input_) {
    self->input_->input.releaseAll();
    self->input_->scroll->stop();
  }
  if (self->services_.laser) self->services_.laser->hide();
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

void HostServer::startCable() {
  auto streamOf = [](HostServer& server) -> AsyncStream<USBMuxClient::Event>& { return server.usbmux_->events(); };
  auto handle = [](HostServer& server, USBMuxClient::Event event) { server.cableEvent(event); };
  spawn(observe<USBMuxClient::Event>(weak_from_this(), streamOf, handle));
  usbmux_->start();
}

void HostServer::cableEvent(const USBMuxClient::Event& event) {
  std::visit(Overload{
                 [this](const USBMuxClient::Attached& attached) {
                   log("Cable: device " + std::to_string(attached.device.deviceId) + " attached");
                   openCableTunnel(attached.device);
                 },
                 [this](const USBMuxClient::Detached& detached) {
                   log("Cable: device " + std::to_string(detached.deviceId) + " detached");
                   usbTasks_.erase(detached.deviceId);
                 },
                 [this](const USBMuxClient::Disconnected&) {
                   // The client does not reconnect by itself; cable phones
                   // come back when the server is started again.
                   log("Cable: lost usbmuxd");
                   usbTasks_.clear();
                 },
             },
             event);
}

void HostServer::openCableTunnel(const USBMuxDevice& device) {
  if (usbTasks_.contains(device.deviceId)) return;
  usbTasks_.emplace(device.deviceId, Task(executor_, dialCable(weak_from_this(), device.deviceId)));
}

// Dials the phone until the task is cancelled (detach, a lost daemon,
// stop()) or the server is gone: again after each failure and after each
// session ends, so a phone whose app starts later is still found.
asio::awaitable<void> HostServer::dialCable(std::weak_ptr<HostServer> weak, std::uint32_t deviceId) {
  const std::string device = std::to_string(deviceId);
  const std::uint16_t port = GlidemateProtocol::usbPort;
  for (;;) {
    std::shared_ptr<USBMuxClient> client;
    std::chrono::steady_clock::duration delay{};
    {
      auto self = weak.lock();
      if (!self) co_return;
      client = self->usbmux_;
      delay = self->configuration_.cableRedialDelay;
    }
    std::optional<USBMuxClient::Socket> tunnel;
    std::string failure;
    try {
      tunnel.emplace(co_await client->openTunnel(deviceId, port));
    } catch (const asio::system_error& e) {
      if (e.code() == asio::error::operation_aborted) throw;
      failure = e.what();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    client.reset();
    {
      auto self = weak.lock();
      if (!self) co_return;
      if (!tunnel) {
        self->log("Cable: dial to device " + device + " failed: " + failure);
      } else {
        self->log("Cable: tunnel open to device " + device);
        std::shared_ptr<Transport> transport = StreamTransport::make(std::move(*tunnel), TransportKind::usb);
        // The session runs as a task of the server, not of this one: when
        // this task is cancelled, closing the tunnel ends the session the
        // ordinary way, clean-up included.
        auto completion = std::make_shared<Completion>(self->executor_);
        self->spawn(signalling(self->serve(transport), completion));
        self.reset();
        try {
          while (!completion->done) co_await completion->ended.wait();
        } catch (const asio::system_error&) {
          transport->close();
          throw;
        }
      }
    }
    auto executor = co_await asio::this_coro::executor;
    asio::steady_timer pause(executor, delay);
    co_await pause.async_wait(asio::use_awaitable);
  }
}

std::set<std::uint32_t> HostServer::cableDevices() const {
  std::set<std::uint32_t> devices;
  for (const auto& [deviceId, task] : usbTasks_) devices.insert(deviceId);
  return devices;
}

void HostServer::startBluetooth() {
  using State = BLEPeripheralHost::State;
  auto statesOf = [](HostServer& server) -> AsyncStream<State>& { return server.bleHost_->states(); };
  auto setState = [](HostServer& server, State state) { server.bluetoothState.set(state); };
  spawn(observe<State>(weak_from_this(), statesOf, setState));
  using Connection = std::shared_ptr<BLETransport>;
  auto connectionsOf = [](HostServer& server) -> AsyncStream<Connection>& { return server.bleHost_->connections(); };
  auto serveIt = [](HostServer& server, Connection transport) { server.accept(std::move(transport)); };
  spawn(observe<Connection>(weak_from_this(), connectionsOf, serveIt));
  bleHost_->start();
}

}  // namespace glidemate::host
