#include "kit/transport/ble/bluez/bluez_peripheral_manager.hpp"

#include <algorithm>
#include <asio/system_error.hpp>
#include <atomic>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <variant>
#include <vector>

#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/ble/ble_protocol.hpp"
#include "kit/transport/ble/bluez/bluez_adapter_watch.hpp"
#include "kit/transport/ble/bluez/bluez_advertisement.hpp"
#include "kit/transport/ble/bluez/bluez_gatt_application.hpp"
#include "kit/transport/ble/bluez/bluez_names.hpp"
#include "kit/transport/ble/unsupported_ble_peripheral_manager.hpp"

namespace glidemate {
namespace {

using RadioState = BLEPeripheralManager::RadioState;

constexpr const char* category = "bluetooth";

// Each manager exports its objects under a path of its own, so several can
// share one connection.
std::string nextRoot() {
  static std::atomic<unsigned> count{0};
  return "/org/glidemate/ble" + std::to_string(count++);
}

// What one notification to this link may carry: the ATT MTU less the
// 3-byte header, within an attribute's length. Without an MTU, the
// smallest one ATT allows.
std::size_t updateLengthFor(std::optional<std::uint16_t> mtu) {
  if (!mtu || *mtu < BLEProtocol::conservativeFragment + 3) return BLEProtocol::conservativeFragment;
  return std::min<std::size_t>(*mtu - 3, BlueZGattApplication::maximumValueLength);
}

void fail(const sdbus::MethodCall& call, const char* name, const std::string& message) {
  if (!call.doesntExpectReply()) call.createErrorReply(sdbus::Error(name, message)).send();
}

}  // namespace

// Everything the manager does; kept out of the header with sdbus-c++.
class BlueZPeripheralManager::Link {
 public:
  Link(const asio::any_io_executor& executor, Delegate& delegate, std::shared_ptr<DBusConnection> bus,
       Logger& logger);
  ~Link();

  // The service and the advertisement change in the order asked, one
  // BlueZ call after another.
  void enqueue(auto operation) {
    operations_.emplace_back(std::move(operation));
    operationsChanged_.notifyAll();
  }
  // Writes arriving from now on are refused until a service is published
  // again.
  void stopAccepting() { accepting_ = false; }
  bool updateValue(const Bytes& value, const std::string& characteristic, const std::string& central);
  void respondWithSuccess(const WriteRequest& request);

  struct AddService {
    Service service;
  };
  struct RemoveServices {};
  struct StartAdvertising {
    Advertisement advertisement;
  };
  struct StopAdvertising {};

 private:
  using Operation = std::variant<AddService, RemoveServices, StartAdvertising, StopAdvertising>;
  // Something BlueZ took, valid while that BlueZ runs.
  struct Registration {
    std::uint64_t instance;
    std::string adapter;
  };
  // A notifying characteristic: whether BlueZ has it notifying, the
  // centrals that have had their turn as its subscriber, and the current
  // subscriber.
  struct Notifying {
    bool on = false;
    std::set<std::string> claimed;
    std::optional<Central> subscriber;
  };
  struct PendingWrite {
    WriteRequest request;
    sdbus::MethodCall call;
  };

  asio::awaitable<void> work();
  asio::awaitable<void> perform(const Operation& operation);
  asio::awaitable<void> publish(const Service& service);
  asio::awaitable<void> withdrawService();
  asio::awaitable<void> advertise(const Advertisement& advertisement);
  asio::awaitable<void> withdrawAdvertisement();
  // Calls `method(path, options)` on the adapter; the error, if any.
  asio::awaitable<std::optional<DBusError>> registerWith(const std::string& adapter, const char* interface,
                                                         const char* method, const std::string& path);
  asio::awaitable<void> unregisterFrom(const std::string& adapter, const char* interface, const char* method,
                                       const std::string& path);
  // Unregisters without waiting for the answer, for the destructor.
  void unregisterNow(const std::optional<Registration>& registration, const char* interface, const char* method,
                     const std::string& path);
  // Whether the running BlueZ still holds `registration`.
  bool isCurrent(const std::optional<Registration>& registration) const;
  // BlueZ did not take `what`, asked for while the radio was at `epoch`.
  void refused(const DBusError& error, const std::string& what, std::uint64_t epoch);

  void radioChanged();
  // `why` explains a state other than on, for the log; empty when it was
  // logged already.
  void report(RadioState state, const std::string& why);
  void deviceLost(const std::string& device);
  void dropLinks();
  void written(const BlueZGattApplication::Write& write, sdbus::MethodCall call);
  void notifyStarted(const std::string& characteristic);
  void notifyStopped(const std::string& characteristic);
  void failPendingWrites();
  void probe();
  void probed(std::size_t count);

  asio::any_io_executor executor_;
  Delegate& delegate_;
  std::shared_ptr<DBusConnection> bus_;
  Logger& logger_;
  std::string root_ = nextRoot();
  std::unique_ptr<BlueZAdapterWatch> watch_;
  // Answers pings in order with the notifications sent before them.
  std::unique_ptr<sdbus::IProxy> bluez_;

  std::deque<Operation> operations_;
  Notifier operationsChanged_;
  std::unique_ptr<BlueZGattApplication> application_;
  std::optional<Registration> applicationRegistration_;
  std::unique_ptr<BlueZAdvertisement> advertisement_;
  std::optional<Registration> advertisementRegistration_;
  bool accepting_ = false;
  std::map<std::string, Notifying> notifying_;
  std::deque<PendingWrite> pendingWrites_;

  // The radio state and BlueZ instance last seen, and the state last
  // reported (which a refusal may have changed since).
  std::optional<std::pair<RadioState, std::uint64_t>> seen_;
  std::optional<RadioState> reported_;
  std::uint64_t linkEpoch_ = 0;

  std::size_t inFlight_ = 0;
  std::size_t unprobed_ = 0;
  bool probing_ = false;
  bool wantsRoom_ = false;

  // Last, so that it is cancelled before anything it uses goes.
  Task worker_;
};

BlueZPeripheralManager::Link::Link(const asio::any_io_executor& executor, Delegate& delegate,
                                   std::shared_ptr<DBusConnection> bus, Logger& logger)
    : executor_(executor),
      delegate_(delegate),
      bus_(std::move(bus)),
      logger_(logger),
      bluez_(bus_->proxy(bluez::service, "/")),
      operationsChanged_(executor) {
  watch_ = std::make_unique<BlueZAdapterWatch>(
      executor, bus_,
      BlueZAdapterWatch::Events{[this] { radioChanged(); }, [this](const std::string& d) { deviceLost(d); }});
  linkEpoch_ = watch_->epoch();
  worker_ = Task(executor, work());
}

BlueZPeripheralManager::Link::~Link() {
  worker_.cancel();
  failPendingWrites();
  // The bus may outlive this manager (and BlueZ only tidies up after
  // clients that leave the bus), so what was registered is taken back.
  if (advertisement_) {
    unregisterNow(advertisementRegistration_, bluez::advertisingManagerInterface, "UnregisterAdvertisement",
                  advertisement_->path());
  }
  if (application_) {
    unregisterNow(applicationRegistration_, bluez::gattManagerInterface, "UnregisterApplication",
                  application_->path());
  }
  bus_->wake();
}

asio::awaitable<void> BlueZPeripheralManager::Link::work() {
  for (;;) {
    while (operations_.empty()) co_await operationsChanged_.wait();
    const Operation next = std::move(operations_.front());
    operations_.pop_front();
    try {
      co_await perform(next);
    } catch (const asio::system_error&) {
      throw;
    } catch (const std::exception& e) {
      logger_.log(category, std::string("Bluetooth: ") + e.what());
    }
  }
}

asio::awaitable<void> BlueZPeripheralManager::Link::perform(const Operation& operation) {
  if (const auto* add = std::get_if<AddService>(&operation)) {
    co_await publish(add->service);
  } else if (std::holds_alternative<RemoveServices>(operation)) {
    co_await withdrawService();
  } else if (const auto* start = std::get_if<StartAdvertising>(&operation)) {
    co_await advertise(start->advertisement);
  } else {
    co_await withdrawAdvertisement();
  }
}

asio::awaitable<void> BlueZPeripheralManager::Link::publish(const Service& service) {
  co_await withdrawService();
  if (watch_->state() != RadioState::poweredOn) {
    delegate_.serviceAdded(service.identifier, "Bluetooth is unavailable: " + watch_->reason());
    co_return;
  }
  const std::uint64_t epoch = watch_->epoch();
  const std::uint64_t instance = watch_->instance();
  const std::string adapter = watch_->adapter();
  application_ = std::make_unique<BlueZGattApplication>(
      bus_->raw(), root_ + "/app", service,
      BlueZGattApplication::Handlers{
          [this](const BlueZGattApplication::Write& w, sdbus::MethodCall call) { written(w, std::move(call)); },
          [this](const std::string& c) { notifyStarted(c); }, [this](const std::string& c) { notifyStopped(c); }});
  for (const auto& characteristic : service.characteristics) {
    if (characteristic.properties.notify) notifying_[characteristic.identifier] = Notifying{};
  }
  // BlueZ may hand over writes as soon as it has read the tree, before its
  // answer arrives.
  accepting_ = true;
  const std::string path = application_->path();
  std::optional<DBusError> error =
      co_await registerWith(adapter, bluez::gattManagerInterface, "RegisterApplication", path);
  if (error) {
    accepting_ = false;
    dropLinks();
    failPendingWrites();
    notifying_.clear();
    application_.reset();
    delegate_.serviceAdded(service.identifier, error->message());
    refused(*error, "the GATT service", epoch);
    co_return;
  }
  applicationRegistration_ = Registration{instance, adapter};
  // Powered off or another adapter meanwhile: advertising waits for the
  // radio to be on again, when the host publishes anew (and this
  // registration is taken back first).
  if (epoch != watch_->epoch() || watch_->state() != RadioState::poweredOn) {
    delegate_.serviceAdded(service.identifier, "Bluetooth changed while the service was being registered");
    co_return;
  }
  delegate_.serviceAdded(service.identifier, std::nullopt);
}

asio::awaitable<void> BlueZPeripheralManager::Link::withdrawService() {
  if (!application_) co_return;
  accepting_ = false;
  dropLinks();
  failPendingWrites();
  notifying_.clear();
  if (isCurrent(applicationRegistration_)) {
    const std::string adapter = applicationRegistration_->adapter;
    const std::string path = application_->path();
    co_await unregisterFrom(adapter, bluez::gattManagerInterface, "UnregisterApplication", path);
  }
  applicationRegistration_.reset();
  application_.reset();
}

asio::awaitable<void> BlueZPeripheralManager::Link::advertise(const Advertisement& advertisement) {
  co_await withdrawAdvertisement();
  if (watch_->state() != RadioState::poweredOn) co_return;
  const std::uint64_t epoch = watch_->epoch();
  const std::uint64_t instance = watch_->instance();
  const std::string adapter = watch_->adapter();
  // Released by BlueZ (its adapter went, say): nothing left to take back.
  advertisement_ = std::make_unique<BlueZAdvertisement>(bus_->raw(), root_ + "/advertisement", advertisement,
                                                        [this] { advertisementRegistration_.reset(); });
  const std::string path = advertisement_->path();
  std::optional<DBusError> error =
      co_await registerWith(adapter, bluez::advertisingManagerInterface, "RegisterAdvertisement", path);
  if (error) {
    advertisement_.reset();
    refused(*error, "the advertisement", epoch);
    co_return;
  }
  // Kept even when the radio moved on meanwhile: the next withdrawal takes
  // it back.
  advertisementRegistration_ = Registration{instance, adapter};
}

asio::awaitable<void> BlueZPeripheralManager::Link::withdrawAdvertisement() {
  if (!advertisement_) co_return;
  if (isCurrent(advertisementRegistration_)) {
    const std::string adapter = advertisementRegistration_->adapter;
    const std::string path = advertisement_->path();
    co_await unregisterFrom(adapter, bluez::advertisingManagerInterface, "UnregisterAdvertisement", path);
  }
  advertisementRegistration_.reset();
  advertisement_.reset();
}

asio::awaitable<std::optional<DBusError>> BlueZPeripheralManager::Link::registerWith(const std::string& adapter,
                                                                                     const char* interface,
                                                                                     const char* method,
                                                                                     const std::string& path) {
  // Held first, so that the connection outlives the proxy even when this
  // frame is the last to go.
  const auto bus = bus_;
  auto proxy = bus->proxy(bluez::service, adapter);
  try {
    auto call = proxy->createMethodCall(interface, method);
    call << sdbus::ObjectPath(path) << std::map<std::string, sdbus::Variant>{};
    co_await bus->call(*proxy, std::move(call));
  } catch (const DBusError& e) {
    co_return e;
  } catch (const sdbus::Error& e) {
    co_return DBusError(e.getName(), e.getMessage());
  }
  co_return std::nullopt;
}

asio::awaitable<void> BlueZPeripheralManager::Link::unregisterFrom(const std::string& adapter, const char* interface,
                                                                   const char* method, const std::string& path) {
  const auto bus = bus_;
  auto proxy = bus->proxy(bluez::service, adapter);
  try {
    auto call = proxy->createMethodCall(interface, method);
    call << sdbus::ObjectPath(path);
    co_await bus->call(*proxy, std::move(call));
  } catch (const DBusError&) {
    // Already gone from BlueZ's side: what was wanted.
  } catch (const sdbus::Error&) {
  }
}

void BlueZPeripheralManager::Link::unregisterNow(const std::optional<Registration>& registration,
                                                 const char* interface, const char* method, const std::string& path) {
  if (!isCurrent(registration)) return;
  try {
    auto proxy = bus_->proxy(bluez::service, registration->adapter);
    auto call = proxy->createMethodCall(interface, method);
    call << sdbus::ObjectPath(path);
    call.dontExpectReply();
    (void)proxy->callMethod(call);
  } catch (const sdbus::Error&) {
    // The bus is gone, and BlueZ has forgotten this client with it.
  }
}

bool BlueZPeripheralManager::Link::isCurrent(const std::optional<Registration>& registration) const {
  return registration && registration->instance == watch_->instance();
}

void BlueZPeripheralManager::Link::refused(const DBusError& error, const std::string& what, std::uint64_t epoch) {
  // Asked of an adapter or a BlueZ that has gone or powered off since: the
  // state has moved on, and what follows from it is asked anew.
  if (epoch != watch_->epoch() || watch_->state() != RadioState::poweredOn) return;
  logger_.log(category, "Bluetooth: BlueZ did not take " + what + ": " + error.message());
  // Not advertising after all: the state says so rather than leave
  // `advertising` standing.
  report(error.name() == bluez::errorAccessDenied ? RadioState::unauthorized : RadioState::unknown, {});
}

void BlueZPeripheralManager::Link::radioChanged() {
  const RadioState state = watch_->state();
  const std::uint64_t epoch = watch_->epoch();
  // Whatever link a central had went with the adapter or with BlueZ.
  if (state != RadioState::poweredOn || epoch != linkEpoch_) {
    linkEpoch_ = epoch;
    dropLinks();
  }
  // BlueZ is being read; its answer follows at once.
  if (state == RadioState::unknown) return;
  // Only news from BlueZ counts: a refusal reported since stands until the
  // adapter or BlueZ changes. A new BlueZ or adapter that is on needs the
  // service again, even though the state reads the same.
  if (seen_ && seen_->first == state && seen_->second == epoch) return;
  seen_ = std::pair(state, epoch);
  report(state, watch_->reason());
}

void BlueZPeripheralManager::Link::report(RadioState state, const std::string& why) {
  if (reported_ == state && state != RadioState::poweredOn) return;
  reported_ = state;
  if (state == RadioState::poweredOn) {
    logger_.log(category, "Bluetooth: using adapter " + watch_->adapter());
  } else if (!why.empty()) {
    logger_.log(category, "Bluetooth LE unavailable: " + why);
  }
  delegate_.stateUpdated(state);
}

void BlueZPeripheralManager::Link::deviceLost(const std::string& device) {
  for (auto& [characteristic, state] : notifying_) {
    state.claimed.erase(device);
    if (state.subscriber && state.subscriber->identifier == device) {
      const Central central = *state.subscriber;
      state.subscriber.reset();
      delegate_.centralUnsubscribed(central, characteristic);
    }
  }
}

void BlueZPeripheralManager::Link::dropLinks() {
  for (auto& [characteristic, state] : notifying_) {
    state.claimed.clear();
    if (state.subscriber) {
      const Central central = *state.subscriber;
      state.subscriber.reset();
      delegate_.centralUnsubscribed(central, characteristic);
    }
  }
}

void BlueZPeripheralManager::Link::written(const BlueZGattApplication::Write& write, sdbus::MethodCall call) {
  if (!accepting_) {
    fail(call, bluez::errorFailed, "The service is being withdrawn");
    return;
  }
  const Central central{write.device, updateLengthFor(write.mtu)};
  for (auto& [characteristic, state] : notifying_) {
    if (state.on && !state.claimed.contains(central.identifier)) {
      state.claimed.insert(central.identifier);
      state.subscriber = central;
      delegate_.centralSubscribed(central, characteristic);
    }
  }
  const std::vector<WriteRequest> batch{WriteRequest{central, write.characteristic, write.value}};
  pendingWrites_.push_back(PendingWrite{batch.front(), std::move(call)});
  delegate_.writeRequestsReceived(batch);
}

void BlueZPeripheralManager::Link::respondWithSuccess(const WriteRequest& request) {
  auto it = std::find_if(pendingWrites_.begin(), pendingWrites_.end(),
                         [&](const PendingWrite& p) { return p.request == request; });
  if (it == pendingWrites_.end()) return;
  BlueZGattApplication::succeed(it->call);
  pendingWrites_.erase(it);
  bus_->wake();
}

void BlueZPeripheralManager::Link::failPendingWrites() {
  for (const auto& pending : pendingWrites_) fail(pending.call, bluez::errorFailed, "The service was withdrawn");
  pendingWrites_.clear();
}

void BlueZPeripheralManager::Link::notifyStarted(const std::string& characteristic) {
  auto it = notifying_.find(characteristic);
  if (it != notifying_.end() && accepting_) it->second.on = true;
}

void BlueZPeripheralManager::Link::notifyStopped(const std::string& characteristic) {
  auto it = notifying_.find(characteristic);
  if (it == notifying_.end()) return;
  // No central is subscribed any more.
  Notifying& state = it->second;
  state.on = false;
  state.claimed.clear();
  if (state.subscriber) {
    const Central central = *state.subscriber;
    state.subscriber.reset();
    delegate_.centralUnsubscribed(central, characteristic);
  }
}

bool BlueZPeripheralManager::Link::updateValue(const Bytes& value, const std::string& characteristic,
                                               const std::string& central) {
  auto it = notifying_.find(characteristic);
  if (!application_ || !accepting_ || it == notifying_.end() || !it->second.subscriber ||
      it->second.subscriber->identifier != central) {
    return false;
  }
  if (inFlight_ >= notificationWindow) {
    wantsRoom_ = true;
    return false;
  }
  application_->notify(characteristic, value);
  ++inFlight_;
  ++unprobed_;
  probe();
  bus_->wake();
  return true;
}

// BlueZ takes notifications as signals, which have no answer. A ping sent
// after them is answered once BlueZ has handled them (a peer's messages
// arrive in order), so each answered ping frees the notifications it
// followed.
void BlueZPeripheralManager::Link::probe() {
  if (probing_ || unprobed_ == 0) return;
  probing_ = true;
  const std::size_t covered = unprobed_;
  unprobed_ = 0;
  try {
    auto ping = bluez_->createMethodCall(bluez::peerInterface, "Ping");
    // Answered or failed alike: a BlueZ that cannot answer holds nothing.
    (void)bluez_->callMethod(
        ping, [this, covered](sdbus::MethodReply&, const sdbus::Error*) { probed(covered); },
        DBusConnection::defaultTimeout);
  } catch (const sdbus::Error&) {
    // The bus is gone: nothing is waiting on it any more.
    probing_ = false;
    inFlight_ = 0;
    unprobed_ = 0;
  }
}

void BlueZPeripheralManager::Link::probed(std::size_t count) {
  probing_ = false;
  inFlight_ -= std::min(count, inFlight_);
  probe();
  if (wantsRoom_ && inFlight_ < notificationWindow) {
    wantsRoom_ = false;
    delegate_.readyToUpdateSubscribers();
  }
}

BlueZPeripheralManager::BlueZPeripheralManager(const asio::any_io_executor& executor, Delegate& delegate,
                                               std::shared_ptr<DBusConnection> systemBus, Logger& logger)
    : link_(std::make_unique<Link>(executor, delegate, std::move(systemBus), logger)) {}

BlueZPeripheralManager::~BlueZPeripheralManager() = default;

BLEPeripheralHost::ManagerFactory BlueZPeripheralManager::factory(std::shared_ptr<DBusConnection> systemBus,
                                                                  Logger& logger) {
  return [systemBus, &logger](const asio::any_io_executor& executor,
                              Delegate& delegate) -> std::unique_ptr<BLEPeripheralManager> {
    try {
      return std::make_unique<BlueZPeripheralManager>(executor, delegate, systemBus, logger);
    } catch (const std::exception& e) {
      logger.log(category, std::string("Bluetooth LE unavailable: ") + e.what());
      return UnsupportedBLEPeripheralManager::make(executor, delegate);
    }
  };
}

BLEPeripheralHost::ManagerFactory BlueZPeripheralManager::forSystemBus(const asio::any_io_executor& executor,
                                                                       Logger& logger) {
  try {
    return factory(DBusConnection::open(executor, DBusConnection::Bus::system), logger);
  } catch (const DBusError& e) {
    logger.log(category, "Bluetooth LE unavailable: " + e.message());
    return UnsupportedBLEPeripheralManager::make;
  }
}

void BlueZPeripheralManager::addService(const Service& service) { link_->enqueue(Link::AddService{service}); }

void BlueZPeripheralManager::removeAllServices() {
  link_->stopAccepting();
  link_->enqueue(Link::RemoveServices{});
}

void BlueZPeripheralManager::startAdvertising(const Advertisement& advertisement) {
  link_->enqueue(Link::StartAdvertising{advertisement});
}

void BlueZPeripheralManager::stopAdvertising() { link_->enqueue(Link::StopAdvertising{}); }

bool BlueZPeripheralManager::updateValue(const Bytes& value, const std::string& characteristic,
                                         const std::string& centralIdentifier) {
  return link_->updateValue(value, characteristic, centralIdentifier);
}

void BlueZPeripheralManager::respondWithSuccess(const WriteRequest& request) { link_->respondWithSuccess(request); }

}  // namespace glidemate
