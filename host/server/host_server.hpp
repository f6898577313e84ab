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
#include <variant>
#include <vector>

#include "host/input/event_poster.hpp"
#include "host/input/frame_clock.hpp"
#include "host/server/command_dispatcher.hpp"
#include "host/server/host_clock.hpp"
#include "host/server/host_services.hpp"
#include "host/server/input_services.hpp"
#include "host/server/host_pairing_coordinator.hpp"
#include "host/server/message_dispatcher.hpp"
#include "host/server/observable.hpp"
#include "host/server/user_defaults.hpp"
#include "kit/runtime/logger.hpp"
#include "kit/runtime/task.hpp"
#include "kit/session/session.hpp"
#include "kit/transport/ble/ble_peripheral_host.hpp"
#include "kit/transport/ble/unsupported_ble_peripheral_manager.hpp"
#include "kit/transport/dns_sd.hpp"
#include "kit/transport/lan_listener.hpp"
#include "kit/transport/transport.hpp"
#include "kit/transport/usbmux/usbmux_client.hpp"

namespace glidemate::host {

// The spine of the host: it listens for phones, runs one host-role session
// per connection, keeps the observable lists the user interface shows
// (connected phones, pause, turned-away phones), and hands each established
// session's messages to the dispatcher in order. Everything it owns lives
// on the main executor.
class HostServer : public std::enable_shared_from_this<HostServer> {
 public:
  struct ConnectedPeer {
    std::string id;
    std::string name;
    TransportKind transport;
    std::chrono::system_clock::time_point connectedAt;
    bool operator==(const ConnectedPeer&) const = default;
  };

  // What happened to a connection, for status displays; the lists above
  // say what is, these say what just happened.
  struct HandshakeFailed {
    TransportKind transport;
    std::string error;
  };
  struct PeerConnected {
    ConnectedPeer peer;
  };
  struct PeerEnded {
    ConnectedPeer peer;
  };
  using Activity = std::variant<HandshakeFailed, PeerConnected, PeerEnded>;

  struct Configuration {
    KeychainBackend& keys;
    UserDefaults& defaults;
    Logger& logger;
    // Null: the listener is not advertised.
    DnsSd* dnsSd = nullptr;
    // Empty: the machine's name.
    std::string hostName;
    std::uint16_t port = 0;
    std::chrono::steady_clock::duration handshakeTimeout = Session::defaultHandshakeTimeout;
    HostClock clock = {};
    // Where phones' input goes; null: nowhere (no desktop to drive).
    EventPoster* poster = nullptr;
    // Paces scroll momentum; the display's refresh by default.
    std::shared_ptr<FrameClock> frames = std::make_shared<SteadyFrameClock>();
    // Unfinished handshakes allowed at once, in all and from one address.
    std::size_t maxPendingHandshakes = 64;
    std::size_t maxPendingHandshakesPerSource = 8;
    // The cable multiplexer daemon's socket, and how long it may take to
    // answer a request.
    std::string usbmuxSocketPath = USBMuxClient::socketPath();
    std::chrono::steady_clock::duration usbmuxReplyTimeout = USBMuxClient::defaultReplyTimeout;
    // How long after a failed dial, or after its session ended, a phone on
    // a cable is dialled again.
    std::chrono::steady_clock::duration cableRedialDelay = std::chrono::seconds(2);
    // Makes the Bluetooth LE peripheral manager; by default one whose radio
    // reports itself unsupported (the host program passes BlueZ's).
    BLEPeripheralHost::ManagerFactory bluetoothManager = UnsupportedBLEPeripheralManager::make;
    // The waits between a command's action and reading its result.
    CommandDispatcher::Sleep sleep = CommandDispatcher::steadySleep;
    // Shows the user where to let this program control an application.
    std::function<void(const std::string& app)> openAutomationSettings = {};
  };

  static constexpr const char* pausedRefusal = "Glidemate is paused on this Mac";
  static constexpr const char* disconnectedRefusal = "this iPhone was disconnected on the Mac";

  static std::shared_ptr<HostServer> make(asio::any_io_executor executor, Configuration configuration,
                                          HostServices services = {});
  ~HostServer();
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  Observable<LANListener::State> listenerState{LANListener::Idle{}};
  Observable<std::vector<ConnectedPeer>> peers;
  Observable<bool> isPaused{false};
  Observable<std::set<std::string>> disconnectedPeers;
  Observable<BLEPeripheralHost::State> bluetoothState{BLEPeripheralHost::State::idle};
  // The cable devices being dialled or served, by device id.
  std::set<std::uint32_t> cableDevices() const;
  HostPairingCoordinator pairing;
  // Told of every handshake failure, connection and end.
  std::function<void(const Activity&)> onActivity;

  const std::string& hostId() const { return hostId_; }
  const std::string& hostName() const { return hostName_; }
  MessageDispatcher& dispatcher() { return dispatcher_; }
  CommandDispatcher& commands() { return commands_; }
  HostServices& services() { return services_; }
  // Null when the host has no event poster.
  InputServices* input() { return input_.get(); }
  // The established sessions, in order of connection.
  std::vector<std::shared_ptr<Session>> liveSessions() const;

  void start();
  void stop();

  // Runs one connection from handshake to clean-up.
  asio::awaitable<void> serve(std::shared_ptr<Transport> transport);
  // Starts serve() as a task the server owns, unless too many handshakes
  // are unfinished already (then the transport is closed at once).
  void accept(std::shared_ptr<Transport> transport);

  void setPaused(bool paused);
  void disconnect(const std::string& peerId);
  void allow(const std::string& peerId);
  void forget(const std::string& peerId);
  void broadcast(const Event& event);

  // What SourcedPairing answers when a phone asks to be let in.
  std::optional<std::string> refusalFor(const PeerInfo& peer) const;

 private:
  struct LiveSession {
    std::shared_ptr<Session> session;
    TransportKind transport;
    std::string peerId;
    ConnectedPeer peer;
  };

  HostServer(asio::any_io_executor executor, Configuration configuration, HostServices services);

  static asio::awaitable<void> serveConnection(std::weak_ptr<HostServer> weak,
                                               std::shared_ptr<Transport> transport);
  std::string loadHostId();
  void log(const std::string& line);
  void report(const Activity& activity);
  void closeSessionsOf(const std::string& peerId);
  void removeSession(const Session& session);
  void removePeerEntry(const std::string& peerId);
  void spawn(asio::awaitable<void> work);
  void startCable();
  void startBluetooth();
  void cableEvent(const USBMuxClient::Event& event);
  void openCableTunnel(const USBMuxDevice& device);
  static asio::awaitable<void> dialCable(std::weak_ptr<HostServer> weak, std::uint32_t deviceId);

  asio::any_io_executor executor_;
  Configuration configuration_;
  std::string hostId_;
  std::string hostName_;
  std::unique_ptr<InputServices> input_;
  HostServices services_;
  CommandDispatcher commands_;
  MessageDispatcher dispatcher_;
  std::unique_ptr<LANListener> listener_;
  std::vector<LiveSession> live_;
  // Per-connection and observer tasks; a finished connection's task is
  // dropped so that the map does not grow with every phone that came.
  std::map<std::uint64_t, Task> tasks_;
  std::uint64_t nextTaskId_ = 0;
  std::size_t pendingHandshakes_ = 0;
  std::map<std::string, std::size_t> pendingBySource_;
  std::shared_ptr<USBMuxClient> usbmux_ =
      USBMuxClient::make(executor_, configuration_.usbmuxSocketPath, configuration_.usbmuxReplyTimeout);
  std::unique_ptr<BLEPeripheralHost> bleHost_ =
      std::make_unique<BLEPeripheralHost>(executor_, hostName_, configuration_.bluetoothManager);
  // One redialling task per attached cable device.
  std::map<std::uint32_t, Task> usbTasks_;
};

}  // namespace glidemate::host
