#pragma once

#include <asio/any_io_executor.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/runtime/async_stream.hpp"
#include "kit/transport/ble/ble_peripheral_manager.hpp"
#include "kit/transport/ble/ble_transport.hpp"

namespace glidemate {

// The host as a Bluetooth LE peripheral: publishes the Glidemate service,
// advertises it under the host's name, and gives the phone that subscribes
// to the outbound characteristic a BLETransport (unstarted) on
// `connections`. One phone at a time: the latest subscriber wins, and the
// transport of the one before is closed. Radio problems are only reported,
// as states.
//
// Lives on one executor and is used only from it; the manager, made on the
// first start(), calls back there.
class BLEPeripheralHost final : private BLEPeripheralManager::Delegate {
 public:
  enum class State { idle, unsupported, unauthorised, poweredOff, advertising };
  using ManagerFactory = std::function<std::unique_ptr<BLEPeripheralManager>(const asio::any_io_executor& executor,
                                                                             BLEPeripheralManager::Delegate& delegate)>;

  BLEPeripheralHost(const asio::any_io_executor& executor, std::string hostName, ManagerFactory makeManager);
  // Closes the live transport: its fragments go through this host.
  ~BLEPeripheralHost();
  BLEPeripheralHost(const BLEPeripheralHost&) = delete;
  BLEPeripheralHost& operator=(const BLEPeripheralHost&) = delete;

  void start();
  // Stops advertising, withdraws the service, closes the live transport;
  // `idle` follows on `states`.
  void stop();

  AsyncStream<std::shared_ptr<BLETransport>>& connections() { return connections_.first; }
  AsyncStream<State>& states() { return states_.first; }

  // The service as published, and the advertisement for a host name.
  static BLEPeripheralManager::Service service();
  static BLEPeripheralManager::Advertisement advertisement(const std::string& hostName);

 private:
  void stateUpdated(BLEPeripheralManager::RadioState state) override;
  void serviceAdded(const std::string& service, const std::optional<std::string>& error) override;
  void centralSubscribed(const BLEPeripheralManager::Central& central, const std::string& characteristic) override;
  void centralUnsubscribed(const BLEPeripheralManager::Central& central, const std::string& characteristic) override;
  void writeRequestsReceived(const std::vector<BLEPeripheralManager::WriteRequest>& requests) override;
  void readyToUpdateSubscribers() override;

  void publishService();
  bool writeFragment(const Bytes& fragment, const std::string& centralIdentifier);
  void dropTransport();

  asio::any_io_executor executor_;
  std::string hostName_;
  ManagerFactory makeManager_;
  std::pair<AsyncStream<std::shared_ptr<BLETransport>>, StreamProducer<std::shared_ptr<BLETransport>>> connections_;
  std::pair<AsyncStream<State>, StreamProducer<State>> states_;
  std::unique_ptr<BLEPeripheralManager> manager_;
  BLEPeripheralManager::RadioState radio_ = BLEPeripheralManager::RadioState::unknown;
  std::optional<std::string> outbound_;
  std::shared_ptr<BLETransport> transport_;
  std::optional<BLEPeripheralManager::Central> subscriber_;
  bool wantsToRun_ = false;
};

}  // namespace glidemate
