#include "kit/transport/ble/bluez/bluez_adapter_watch.hpp"

#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <vector>

#include "kit/transport/ble/bluez/bluez_names.hpp"

namespace glidemate {
namespace {

using RadioState = BLEPeripheralManager::RadioState;

std::optional<bool> boolean(const std::map<std::string, sdbus::Variant>& properties, const std::string& name) {
  auto it = properties.find(name);
  if (it == properties.end() || !it->second.containsValueOfType<bool>()) return std::nullopt;
  return it->second.get<bool>();
}

}  // namespace

BlueZAdapterWatch::BlueZAdapterWatch(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> bus,
                                     Events events)
    : bus_(std::move(bus)), events_(std::move(events)), root_(bus_->proxy(bluez::service, "/")) {
  auto& raw = bus_->raw();
  // Subscribed before the snapshot is asked for, so that no change falls
  // between the two. Matching on the well-known name follows BlueZ across
  // restarts.
  owners_ = raw.addMatch(
      "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
      "arg0='org.bluez'",
      [this](sdbus::Message& m) { ownerChanged(m); });
  objects_ = raw.addMatch("type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager'",
                          [this](sdbus::Message& m) {
                            if (m.getMemberName() == "InterfacesAdded") interfacesAdded(m);
                            if (m.getMemberName() == "InterfacesRemoved") interfacesRemoved(m);
                          });
  properties_ = raw.addMatch(
      "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'",
      [this](sdbus::Message& m) { propertiesChanged(m); });
  busWatch_ = Task(executor, [](BlueZAdapterWatch& self, asio::any_io_executor on,
                                std::weak_ptr<bool> alive) -> asio::awaitable<void> {
    // Never reports from inside the constructor, even on a bus that is
    // closed already.
    co_await asio::post(on, asio::use_awaitable);
    if (alive.expired()) co_return;
    co_await self.bus_->closed();
    if (alive.expired()) co_return;
    self.busLost();
  }(*this, executor, alive_));
  takeSnapshot();
}

BlueZAdapterWatch::~BlueZAdapterWatch() = default;

void BlueZAdapterWatch::takeSnapshot() {
  const std::uint64_t generation = ++snapshotGeneration_;
  presence_ = Presence::unknown;
  adapters_.clear();
  try {
    auto call = root_->createMethodCall(bluez::objectManagerInterface, "GetManagedObjects");
    // A plain callback rather than an awaited call: it runs in order with
    // the signals, so a change that follows the snapshot is never
    // overwritten by it.
    root_->callMethod(
        call,
        [this, generation](sdbus::MethodReply& reply, const sdbus::Error* error) {
          snapshotArrived(generation, reply, error);
        },
        DBusConnection::defaultTimeout);
    bus_->wake();
  } catch (const sdbus::Error&) {
    presence_ = Presence::absent;
  }
}

void BlueZAdapterWatch::snapshotArrived(std::uint64_t generation, sdbus::MethodReply& reply,
                                        const sdbus::Error* error) {
  if (generation != snapshotGeneration_) return;
  if (error != nullptr) {
    presence_ = error->getName() == bluez::errorAccessDenied ? Presence::denied : Presence::absent;
    changed();
    return;
  }
  std::map<sdbus::ObjectPath, Interfaces> objects;
  try {
    reply >> objects;
  } catch (const sdbus::Error&) {
    presence_ = Presence::absent;
    changed();
    return;
  }
  presence_ = Presence::present;
  for (const auto& [path, interfaces] : objects) addInterfaces(path, interfaces);
  changed();
}

void BlueZAdapterWatch::ownerChanged(sdbus::Message& message) {
  std::string name, oldOwner, newOwner;
  try {
    message >> name >> oldOwner >> newOwner;
  } catch (const sdbus::Error&) {
    return;
  }
  if (name != bluez::service) return;
  // Another BlueZ (or none): nothing registered with the old one remains.
  ++instance_;
  ++epoch_;
  if (newOwner.empty()) {
    ++snapshotGeneration_;
    presence_ = Presence::absent;
    adapters_.clear();
  } else {
    takeSnapshot();
  }
  changed();
}

void BlueZAdapterWatch::interfacesAdded(sdbus::Message& message) {
  sdbus::ObjectPath path;
  Interfaces interfaces;
  try {
    message >> path >> interfaces;
  } catch (const sdbus::Error&) {
    return;
  }
  // Devices come and go all the time while anyone scans; only adapters
  // matter here.
  if (addInterfaces(path, interfaces)) changed();
}

bool BlueZAdapterWatch::addInterfaces(const std::string& path, const Interfaces& interfaces) {
  const bool isAdapter = interfaces.contains(bluez::adapterInterface);
  if (!isAdapter && !adapters_.contains(path)) return false;
  Adapter& adapter = adapters_[path];
  if (isAdapter) adapter.powered = boolean(interfaces.at(bluez::adapterInterface), "Powered").value_or(false);
  adapter.gattManager = adapter.gattManager || interfaces.contains(bluez::gattManagerInterface);
  adapter.advertisingManager = adapter.advertisingManager || interfaces.contains(bluez::advertisingManagerInterface);
  return true;
}

void BlueZAdapterWatch::interfacesRemoved(sdbus::Message& message) {
  sdbus::ObjectPath path;
  std::vector<std::string> interfaces;
  try {
    message >> path >> interfaces;
  } catch (const sdbus::Error&) {
    return;
  }
  for (const auto& interface : interfaces) {
    if (interface == bluez::deviceInterface) events_.deviceLost(path);
  }
  auto it = adapters_.find(path);
  if (it == adapters_.end()) return;
  for (const auto& interface : interfaces) {
    if (interface == bluez::adapterInterface) {
      adapters_.erase(it);
      break;
    }
    if (interface == bluez::gattManagerInterface) it->second.gattManager = false;
    if (interface == bluez::advertisingManagerInterface) it->second.advertisingManager = false;
  }
  changed();
}

void BlueZAdapterWatch::propertiesChanged(sdbus::Message& message) {
  std::string interface;
  std::map<std::string, sdbus::Variant> properties;
  try {
    message >> interface >> properties;
  } catch (const sdbus::Error&) {
    return;
  }
  const std::string path = message.getPath();
  if (interface == bluez::deviceInterface) {
    if (boolean(properties, "Connected") == false) events_.deviceLost(path);
    return;
  }
  if (interface != bluez::adapterInterface) return;
  auto it = adapters_.find(path);
  const auto powered = boolean(properties, "Powered");
  if (it == adapters_.end() || !powered) return;
  it->second.powered = *powered;
  changed();
}

void BlueZAdapterWatch::busLost() {
  ++snapshotGeneration_;
  ++instance_;
  ++epoch_;
  presence_ = Presence::absent;
  adapters_.clear();
  changed();
}

void BlueZAdapterWatch::changed() {
  const std::string now = adapter();
  if (now != lastAdapter_) {
    lastAdapter_ = now;
    ++epoch_;
  }
  events_.radioChanged();
}

const BlueZAdapterWatch::Adapter* BlueZAdapterWatch::current() const {
  return adapters_.empty() ? nullptr : &adapters_.begin()->second;
}

std::string BlueZAdapterWatch::adapter() const {
  return presence_ == Presence::present && !adapters_.empty() ? adapters_.begin()->first : std::string();
}

RadioState BlueZAdapterWatch::state() const {
  switch (presence_) {
    case Presence::unknown:
      return RadioState::unknown;
    case Presence::absent:
      return RadioState::unsupported;
    case Presence::denied:
      return RadioState::unauthorized;
    case Presence::present:
      break;
  }
  const Adapter* adapter = current();
  if (adapter == nullptr) return RadioState::unsupported;
  if (!adapter->powered) return RadioState::poweredOff;
  if (!adapter->gattManager || !adapter->advertisingManager) return RadioState::unsupported;
  return RadioState::poweredOn;
}

std::string BlueZAdapterWatch::reason() const {
  switch (presence_) {
    case Presence::unknown:
      return "BlueZ has not answered yet";
    case Presence::absent:
      return "BlueZ is not running on the system bus";
    case Presence::denied:
      return "the system bus's policy does not let this user talk to BlueZ";
    case Presence::present:
      break;
  }
  const Adapter* adapter = current();
  if (adapter == nullptr) return "there is no Bluetooth adapter";
  if (!adapter->powered) return "the Bluetooth adapter is powered off";
  if (!adapter->gattManager || !adapter->advertisingManager) {
    return "the Bluetooth adapter cannot act as a Bluetooth LE peripheral";
  }
  return {};
}

}  // namespace glidemate
