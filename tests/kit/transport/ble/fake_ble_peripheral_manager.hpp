// Test fixture: a peripheral manager without a radio. It records what the
// host publishes, advertises and notifies; the test plays the radio and the
// phones (state changes, subscriptions, writes, readiness), and a phone
// session can run over a FakeCentralLink, which writes as a central and
// receives the notifications addressed to it.
#pragma once

#include <asio/any_io_executor.hpp>
#include <cstddef>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/runtime/async_stream.hpp"
#include "kit/transport/ble/ble_peripheral_host.hpp"
#include "kit/transport/ble/ble_peripheral_manager.hpp"
#include "kit/transport/transport.hpp"

namespace glidemate::testing {

class FakeCentralLink;

class FakeBLEPeripheralManager final : public BLEPeripheralManager {
 public:
  struct Update {
    Bytes value;
    std::string characteristic;
    std::string central;
    bool operator==(const Update&) const = default;
  };

  FakeBLEPeripheralManager(const asio::any_io_executor& executor, Delegate& delegate);
  ~FakeBLEPeripheralManager() override;

  // A factory for BLEPeripheralHost that makes a fake and tells `made`
  // where it is.
  static BLEPeripheralHost::ManagerFactory factory(FakeBLEPeripheralManager*& made);

  // What the host did.
  std::vector<Service> addedServices;
  std::size_t removals = 0;
  std::optional<Advertisement> advertising;
  std::vector<Update> updates;
  std::vector<WriteRequest> responses;
  // Value updates accepted before the radio reports its queue full.
  std::size_t updatesAccepted = std::numeric_limits<std::size_t>::max();
  // The error serviceAdded reports for the next added service.
  std::optional<std::string> addServiceError;

  // The radio and the phones.
  void setState(RadioState state) { delegate_.stateUpdated(state); }
  void subscribe(const Central& central, std::string characteristic = outbound());
  void unsubscribe(const Central& central, std::string characteristic = outbound());
  void write(std::vector<WriteRequest> requests) { delegate_.writeRequestsReceived(requests); }
  // Room for `count` more updates, and the host is told.
  void makeRoom(std::size_t count);

  // A phone's end of a link to this peripheral as `central`.
  std::shared_ptr<FakeCentralLink> link(const Central& central);

  void addService(const Service& service) override;
  void removeAllServices() override;
  void startAdvertising(const Advertisement& advertisement) override { advertising = advertisement; }
  void stopAdvertising() override { advertising.reset(); }
  bool updateValue(const Bytes& value, const std::string& characteristic, const std::string& central) override;
  void respondWithSuccess(const WriteRequest& request) override { responses.push_back(request); }

  static std::string outbound();
  static std::string inbound();

 private:
  asio::any_io_executor executor_;
  Delegate& delegate_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::map<std::string, std::weak_ptr<FakeCentralLink>> links_;
};

// The phone side of the link: start() subscribes to the outbound
// characteristic, send() writes into the inbound one, and what the host
// notifies to this central arrives as reliable data.
class FakeCentralLink final : public Transport {
 public:
  // `managerAlive` turns false when the manager goes; the link then only
  // ends itself.
  FakeCentralLink(const asio::any_io_executor& executor, FakeBLEPeripheralManager& manager,
                  std::shared_ptr<bool> managerAlive, BLEPeripheralManager::Central central);

  TransportKind kind() const override { return TransportKind::ble; }
  bool hasUnreliableChannel() const override { return false; }
  AsyncStream<TransportEvent>& events() override { return events_.first; }
  void start() override;
  asio::awaitable<void> send(Bytes data, Channel channel) override;
  void close() override;

  void notified(const Bytes& value);

 private:
  FakeBLEPeripheralManager& manager_;
  std::shared_ptr<bool> managerAlive_;
  BLEPeripheralManager::Central central_;
  std::pair<AsyncStream<TransportEvent>, StreamProducer<TransportEvent>> events_;
  bool started_ = false;
  bool closed_ = false;
};

}  // namespace glidemate::testing
