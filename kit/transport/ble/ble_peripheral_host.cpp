#include "kit/transport/ble/ble_peripheral_host.hpp"

#include "kit/transport/ble/ble_protocol.hpp"

namespace glidemate {
namespace {

using RadioState = BLEPeripheralManager::RadioState;

// The first `count` characters (code points) of UTF-8 text, never cutting
// one in half.
std::string firstCharacters(const std::string& text, std::size_t count) {
  std::size_t end = 0;
  std::size_t characters = 0;
  while (end < text.size()) {
    const auto lead = static_cast<unsigned char>(text[end]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (characters == count || end + length > text.size()) {
      break;
    }
    end += length;
    ++characters;
  }
  return text.substr(0, end);
}

}  // namespace

BLEPeripheralHost::BLEPeripheralHost(const asio::any_io_executor& executor, std::string hostName,
                                     ManagerFactory makeManager)
    : executor_(executor),
      hostName_(std::move(hostName)),
      makeManager_(std::move(makeManager)),
      connections_(AsyncStream<std::shared_ptr<BLETransport>>::make(executor)),
      states_(AsyncStream<State>::make(executor)) {}

BLEPeripheralHost::~BLEPeripheralHost() { dropTransport(); }

BLEPeripheralManager::Service BLEPeripheralHost::service() {
  using M = BLEPeripheralManager;
  return M::Service{
      std::string(BLEProtocol::serviceIdentifier),
      true,
      {
          M::Characteristic{std::string(BLEProtocol::inboundIdentifier),
                            M::CharacteristicProperties{.write = true, .writeWithoutResponse = true},
                            M::Permissions{.writeable = true}},
          M::Characteristic{std::string(BLEProtocol::outboundIdentifier),
                            M::CharacteristicProperties{.notify = true}, M::Permissions{.readable = true}},
      },
  };
}

BLEPeripheralManager::Advertisement BLEPeripheralHost::advertisement(const std::string& hostName) {
  return BLEPeripheralManager::Advertisement{{std::string(BLEProtocol::serviceIdentifier)},
                                             firstCharacters(hostName, BLEProtocol::localNameLength)};
}

void BLEPeripheralHost::start() {
  wantsToRun_ = true;
  if (!manager_) {
    manager_ = makeManager_(executor_, *this);
    return;
  }
  // A manager made before already reported its radio; with the radio on,
  // the service goes up again now rather than at its next state change.
  if (radio_ == RadioState::poweredOn) {
    publishService();
  }
}

void BLEPeripheralHost::stop() {
  wantsToRun_ = false;
  if (manager_) {
    manager_->stopAdvertising();
    manager_->removeAllServices();
  }
  dropTransport();
  states_.second.yield(State::idle);
}

void BLEPeripheralHost::publishService() {
  auto published = service();
  outbound_ = std::string(BLEProtocol::outboundIdentifier);
  manager_->removeAllServices();
  manager_->addService(published);
}

void BLEPeripheralHost::dropTransport() {
  if (transport_) {
    transport_->closed(std::nullopt);
  }
  transport_.reset();
  subscriber_.reset();
}

void BLEPeripheralHost::stateUpdated(RadioState state) {
  radio_ = state;
  switch (state) {
    case RadioState::unsupported:
      states_.second.yield(State::unsupported);
      break;
    case RadioState::unauthorized:
      states_.second.yield(State::unauthorised);
      break;
    case RadioState::poweredOff:
      states_.second.yield(State::poweredOff);
      break;
    case RadioState::poweredOn:
      if (wantsToRun_) {
        publishService();
      }
      break;
    case RadioState::unknown:
    case RadioState::resetting:
      states_.second.yield(State::idle);
      break;
  }
}

void BLEPeripheralHost::serviceAdded(const std::string&, const std::optional<std::string>& error) {
  if (error || !wantsToRun_) {
    return;
  }
  manager_->startAdvertising(advertisement(hostName_));
  states_.second.yield(State::advertising);
}

void BLEPeripheralHost::centralSubscribed(const BLEPeripheralManager::Central& central,
                                          const std::string& characteristic) {
  if (characteristic != BLEProtocol::outboundIdentifier) {
    return;
  }
  if (transport_ && !transport_->isClosed() && subscriber_ && subscriber_->identifier == central.identifier) {
    return;
  }
  dropTransport();
  subscriber_ = central;
  transport_ = std::make_shared<BLETransport>(
      executor_, central.maximumUpdateValueLength,
      [this, id = central.identifier](const Bytes& fragment) { return writeFragment(fragment, id); });
  connections_.second.yield(transport_);
}

bool BLEPeripheralHost::writeFragment(const Bytes& fragment, const std::string& centralIdentifier) {
  if (!manager_ || !outbound_ || !subscriber_) {
    return false;
  }
  return manager_->updateValue(fragment, *outbound_, centralIdentifier);
}

void BLEPeripheralHost::centralUnsubscribed(const BLEPeripheralManager::Central& central,
                                            const std::string& characteristic) {
  if (characteristic != BLEProtocol::outboundIdentifier || !subscriber_ ||
      subscriber_->identifier != central.identifier) {
    return;
  }
  dropTransport();
}

void BLEPeripheralHost::writeRequestsReceived(const std::vector<BLEPeripheralManager::WriteRequest>& requests) {
  for (const auto& request : requests) {
    if (request.characteristic != BLEProtocol::inboundIdentifier || !request.value || !transport_ ||
        !subscriber_ || request.central.identifier != subscriber_->identifier) {
      continue;
    }
    transport_->received(*request.value);
  }
  if (!requests.empty()) {
    manager_->respondWithSuccess(requests.front());
  }
}

void BLEPeripheralHost::readyToUpdateSubscribers() {
  if (transport_) {
    transport_->radioReady();
  }
}

}  // namespace glidemate
