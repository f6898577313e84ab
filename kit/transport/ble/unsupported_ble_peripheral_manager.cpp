#include "kit/transport/ble/unsupported_ble_peripheral_manager.hpp"

#include <asio/post.hpp>

namespace glidemate {

UnsupportedBLEPeripheralManager::UnsupportedBLEPeripheralManager(const asio::any_io_executor& executor,
                                                                 Delegate& delegate)
    : delegate_(std::make_shared<Delegate*>(&delegate)) {
  // Reported later, as a radio would: never from inside the delegate's own
  // call that made this manager.
  asio::post(executor, [weak = std::weak_ptr<Delegate*>(delegate_)] {
    if (auto target = weak.lock()) {
      (*target)->stateUpdated(RadioState::unsupported);
    }
  });
}

std::unique_ptr<BLEPeripheralManager> UnsupportedBLEPeripheralManager::make(const asio::any_io_executor& executor,
                                                                            Delegate& delegate) {
  return std::make_unique<UnsupportedBLEPeripheralManager>(executor, delegate);
}

}  // namespace glidemate
