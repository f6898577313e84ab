#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// The platform's Bluetooth LE peripheral role, as the host needs it:
// publish one GATT service, advertise it, notify subscribers and hear their
// writes. An implementation calls its delegate on the executor it was made
// with, never from inside one of its own functions, and never after it has
// been destroyed.
class BLEPeripheralManager {
 public:
  enum class RadioState { unknown, resetting, unsupported, unauthorized, poweredOff, poweredOn };

  struct CharacteristicProperties {
    bool write = false;
    bool writeWithoutResponse = false;
    bool notify = false;
    bool operator==(const CharacteristicProperties&) const = default;
  };
  struct Permissions {
    bool readable = false;
    bool writeable = false;
    bool operator==(const Permissions&) const = default;
  };
  struct Characteristic {
    std::string identifier;
    CharacteristicProperties properties;
    Permissions permissions;
    bool operator==(const Characteristic&) const = default;
  };
  struct Service {
    std::string identifier;
    bool primary = true;
    std::vector<Characteristic> characteristics;
    bool operator==(const Service&) const = default;
  };
  struct Advertisement {
    std::vector<std::string> serviceIdentifiers;
    std::string localName;
    bool operator==(const Advertisement&) const = default;
  };
  // A phone connected to this peripheral.
  struct Central {
    std::string identifier;
    // The most bytes one value update to it may carry.
    std::size_t maximumUpdateValueLength = 20;
    bool operator==(const Central&) const = default;
  };
  struct WriteRequest {
    Central central;
    std::string characteristic;
    std::optional<Bytes> value;
    bool operator==(const WriteRequest&) const = default;
  };

  class Delegate {
   public:
    virtual void stateUpdated(RadioState state) = 0;
    // `error` is the platform's description when the service was not added.
    virtual void serviceAdded(const std::string& service, const std::optional<std::string>& error) = 0;
    virtual void centralSubscribed(const Central& central, const std::string& characteristic) = 0;
    virtual void centralUnsubscribed(const Central& central, const std::string& characteristic) = 0;
    virtual void writeRequestsReceived(const std::vector<WriteRequest>& requests) = 0;
    // Value updates refused before can be sent again.
    virtual void readyToUpdateSubscribers() = 0;

   protected:
    ~Delegate() = default;
  };

  virtual ~BLEPeripheralManager() = default;

  virtual void addService(const Service& service) = 0;
  virtual void removeAllServices() = 0;
  virtual void startAdvertising(const Advertisement& advertisement) = 0;
  virtual void stopAdvertising() = 0;
  // Notifies one subscribed central; false when the radio's transmit queue
  // is full (readyToUpdateSubscribers follows once there is room).
  virtual bool updateValue(const Bytes& value, const std::string& characteristic,
                           const std::string& centralIdentifier) = 0;
  // Answers a write request with success.
  virtual void respondWithSuccess(const WriteRequest& request) = 0;
};

}  // namespace glidemate
