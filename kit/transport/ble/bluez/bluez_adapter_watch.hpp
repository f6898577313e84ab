#pragma once

#include <asio/any_io_executor.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Message.h>
#include <sdbus-c++/TypeTraits.h>
#include <string>

#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/ble/ble_peripheral_manager.hpp"

namespace glidemate {

// Follows BlueZ on the system bus: whether it runs and lets this user in,
// its first adapter, that adapter's power, and the devices that drop off.
// Everything comes from BlueZ's signals plus one snapshot of its objects
// each time it appears, so nothing polls.
//
// Used only from the bus's executor; its events are called from the bus's
// callbacks.
class BlueZAdapterWatch {
 public:
  struct Events {
    // The radio state, the adapter in use or the BlueZ instance changed.
    std::function<void()> radioChanged;
    // A device (by object path) disconnected or went away.
    std::function<void(const std::string& device)> deviceLost;
  };

  BlueZAdapterWatch(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> bus, Events events);
  ~BlueZAdapterWatch();
  BlueZAdapterWatch(const BlueZAdapterWatch&) = delete;
  BlueZAdapterWatch& operator=(const BlueZAdapterWatch&) = delete;

  // `unknown` until BlueZ has answered.
  BLEPeripheralManager::RadioState state() const;
  // The object path of the adapter in use ("/org/bluez/hci0"); empty when
  // there is none.
  std::string adapter() const;
  // Changes whenever BlueZ restarts (or the bus goes): whatever was
  // registered with the BlueZ before is gone then.
  std::uint64_t instance() const { return instance_; }
  // Changes with the instance and whenever another adapter comes into use.
  std::uint64_t epoch() const { return epoch_; }
  // Why the radio cannot be used, for a person; empty when it can.
  std::string reason() const;

 private:
  enum class Presence { unknown, absent, denied, present };
  struct Adapter {
    bool powered = false;
    bool gattManager = false;
    bool advertisingManager = false;
  };
  using Interfaces = std::map<std::string, std::map<std::string, sdbus::Variant>>;

  void takeSnapshot();
  void snapshotArrived(std::uint64_t generation, sdbus::MethodReply& reply, const sdbus::Error* error);
  void ownerChanged(sdbus::Message& message);
  void interfacesAdded(sdbus::Message& message);
  void interfacesRemoved(sdbus::Message& message);
  void propertiesChanged(sdbus::Message& message);
  // False when `path` is not an adapter's.
  bool addInterfaces(const std::string& path, const Interfaces& interfaces);
  void busLost();
  void changed();
  const Adapter* current() const;

  std::shared_ptr<DBusConnection> bus_;
  Events events_;
  std::unique_ptr<sdbus::IProxy> root_;
  sdbus::Slot owners_;
  sdbus::Slot objects_;
  sdbus::Slot properties_;
  Presence presence_ = Presence::unknown;
  std::map<std::string, Adapter> adapters_;
  std::uint64_t snapshotGeneration_ = 0;
  std::uint64_t instance_ = 0;
  std::uint64_t epoch_ = 0;
  std::string lastAdapter_;
  // Tells the bus watch that this object is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  Task busWatch_;
};

}  // namespace glidemate
