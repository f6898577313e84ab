#pragma once

#include <functional>
#include <memory>
#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IObject.h>
#include <string>

#include "kit/transport/ble/ble_peripheral_manager.hpp"

namespace glidemate {

// An advertisement exported the way BlueZ's LEAdvertisingManager1 takes
// it: a connectable ("peripheral") advertisement of the service UUIDs and
// the local name. Exported on construction, withdrawn on destruction.
class BlueZAdvertisement {
 public:
  // `released` runs when BlueZ drops the advertisement by itself.
  BlueZAdvertisement(sdbus::IConnection& connection, std::string path,
                     const BLEPeripheralManager::Advertisement& advertisement, std::function<void()> released);
  ~BlueZAdvertisement();
  BlueZAdvertisement(const BlueZAdvertisement&) = delete;
  BlueZAdvertisement& operator=(const BlueZAdvertisement&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace glidemate
