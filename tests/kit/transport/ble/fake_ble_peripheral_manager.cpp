#include "tests/kit/transport/ble/fake_ble_peripheral_manager.hpp"

#include <asio/post.hpp>

#include "kit/transport/ble/ble_protocol.hpp"

namespace glidemate::testing {

FakeBLEPeripheralManager::FakeBLEPeripheralManager(const asio::any_io_executor& executor, Delegate& delegate)
    : executor_(executor), delegate_(delegate) {}

FakeBLEPeripheralManager::~FakeBLEPeripheralManager() { *alive_ = false; }

BLEPeripheralHost::ManagerFactory FakeBLEPeripheralManager::factory(FakeBLEPeripheralManager*& made) {
  return [&made](const asio::any_io_executor& executor, Delegate& delegate) {
    auto manager = std::make_unique<FakeBLEPeripheralManager>(executor, delegate);
    made = manager.get();
    return manager;
  };
}

std::string FakeBLEPeripheralManager::outbound() { return std::string(BLEProtocol::outboundIdentifier); }
std::string FakeBLEPeripheralManager::inbound() { return std::string(BLEProtocol::inboundIdentifier); }

void FakeBLEPeripheralManager::subscribe(const Central& central, std::string characteristic) {
  delegate_.centralSubscribed(central, characteristic);
}

void FakeBLEPeripheralManager::unsubscribe(const Central& central, std::string characteristic) {
  delegate_.centralUnsubscribed(central, characteristic);
}

void FakeBLEPeripheralManager::makeRoom(std::size_t count) {
  updatesAccepted = count;
  delegate_.readyToUpdateSubscribers();
}

// As a radio does, the service is confirmed later, not inside this call.
void FakeBLEPeripheralManager::addService(const Service& service) {
  addedServices.push_back(service);
  asio::post(executor_, [this, alive = alive_, id = service.identifier, error = addServiceError] {
    if (*alive) delegate_.serviceAdded(id, error);
  });
}

void FakeBLEPeripheralManager::removeAllServices() {
  ++removals;
  advertising.reset();
}

bool FakeBLEPeripheralManager::updateValue(const Bytes& value, const std::string& characteristic,
                                           const std::string& central) {
  if (updatesAccepted == 0) return false;
  --updatesAccepted;
  updates.push_back(Update{value, characteristic, central});
  auto it = links_.find(central);
  if (it != links_.end()) {
    if (auto link = it->second.lock()) link->notified(value);
  }
  return true;
}

std::shared_ptr<FakeCentralLink> FakeBLEPeripheralManager::link(const Central& central) {
  auto made = std::make_shared<FakeCentralLink>(executor_, *this, alive_, central);
  links_[central.identifier] = made;
  return made;
}

FakeCentralLink::FakeCentralLink(const asio::any_io_executor& executor, FakeBLEPeripheralManager& manager,
                                 std::shared_ptr<bool> managerAlive, BLEPeripheralManager::Central central)
    : manager_(manager),
      managerAlive_(std::move(managerAlive)),
      central_(std::move(central)),
      events_(AsyncStream<TransportEvent>::make(executor)) {}

void FakeCentralLink::start() {
  if (started_) return;
  started_ = true;
  events_.second.yield(TransportEvent::Ready{});
  if (*managerAlive_) manager_.subscribe(central_);
}

// A central writes at most its link's size at once.
asio::awaitable<void> FakeCentralLink::send(Bytes data, Channel) {
  if (closed_ || !*managerAlive_) throw TransportError::closed();
  const std::size_t size = central_.maximumUpdateValueLength;
  for (std::size_t offset = 0; offset < data.size(); offset += size) {
    const auto end = data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), offset + size));
    BLEPeripheralManager::WriteRequest request{central_, FakeBLEPeripheralManager::inbound(),
                                               Bytes(data.begin() + static_cast<std::ptrdiff_t>(offset), end)};
    manager_.write({request});
  }
  co_return;
}

void FakeCentralLink::close() {
  if (closed_) return;
  closed_ = true;
  if (*managerAlive_) manager_.unsubscribe(central_);
  events_.second.yield(TransportEvent::Closed{std::nullopt});
  events_.second.finish();
}

void FakeCentralLink::notified(const Bytes& value) {
  if (!closed_) events_.second.yield(TransportEvent::Data{value, Channel::reliable});
}

}  // namespace glidemate::testing
