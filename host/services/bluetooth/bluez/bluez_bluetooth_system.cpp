#include "host/services/bluetooth/bluez/bluez_bluetooth_system.hpp"

#include <map>
#include <sdbus-c++/sdbus-c++.h>

#include "kit/dbus/dbus_connection.hpp"

namespace glidemate::host {
namespace {

constexpr const char* service = "org.bluez";
constexpr const char* objectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* deviceInterface = "org.bluez.Device1";
constexpr const char* batteryInterface = "org.bluez.Battery1";
constexpr std::string_view category = "bluetooth";

using Properties = std::map<std::string, sdbus::Variant>;
using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, Properties>>;

template <class T>
std::optional<T> property(const Properties& properties, const std::string& name) {
  const auto it = properties.find(name);
  if (it == properties.end() || !it->second.containsValueOfType<T>()) return std::nullopt;
  return it->second.get<T>();
}

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
  if (text && text->empty()) return std::nullopt;
  return text;
}

std::optional<BluetoothSystem::Device> pairedDevice(const std::string& path,
                                                    const std::map<std::string, Properties>& interfaces) {
  const auto device = interfaces.find(deviceInterface);
  if (device == interfaces.end()) return std::nullopt;
  const Properties& p = device->second;
  if (!property<bool>(p, "Paired").value_or(false)) return std::nullopt;
  auto address = nonEmpty(property<std::string>(p, "Address"));
  if (!address) return std::nullopt;
  BluetoothSystem::Device out;
  out.reference = path;
  out.address = std::move(*address);
  out.name = nonEmpty(property<std::string>(p, "Alias"));
  if (!out.name) out.name = nonEmpty(property<std::string>(p, "Name"));
  out.isConnected = property<bool>(p, "Connected").value_or(false);
  if (const auto battery = interfaces.find(batteryInterface); battery != interfaces.end()) {
    if (const auto percent = property<std::uint8_t>(battery->second, "Percentage"); percent && *percent <= 100) {
      out.batteryPercent = *percent;
    }
  }
  return out;
}

}  // namespace

struct BlueZBluetoothSystem::State {
  std::shared_ptr<DBusConnection> bus;
  Logger& logger;
  Options options;
  bool reportedMissing = false;

  void missing(const std::string& why) {
    if (reportedMissing) return;
    reportedMissing = true;
    logger.log(category, "No Bluetooth devices: BlueZ did not answer (" + why + ")");
  }
};

BlueZBluetoothSystem::BlueZBluetoothSystem(std::shared_ptr<DBusConnection> bus, Logger& logger, Options options)
    : state_(std::make_shared<State>(State{std::move(bus), logger, options})) {}

asio::awaitable<std::vector<BluetoothSystem::Device>> BlueZBluetoothSystem::pairedDevices() {
  auto state = state_;
  std::vector<Device> devices;
  auto bus = state->bus;
  ManagedObjects objects;
  try {
    // Arguments of awaited calls are named locals: g++ 12 destroys some
    // temporaries of a co_await expression twice.
    auto proxy = bus->proxy(service, "/");
    auto message = proxy->createMethodCall(objectManager, "GetManagedObjects");
    auto reply = co_await bus->call(*proxy, std::move(message), state->options.listTimeout);
    reply >> objects;
  } catch (const DBusError& e) {
    state->missing(e.what());
    co_return devices;
  } catch (const sdbus::Error& e) {
    state->missing(e.getMessage());
    co_return devices;
  }
  if (state->reportedMissing) {
    state->reportedMissing = false;
    state->logger.log(category, "BlueZ answers again");
  }
  for (const auto& [path, interfaces] : objects) {
    if (auto device = pairedDevice(path, interfaces)) devices.push_back(std::move(*device));
  }
  co_return devices;
}

asio::awaitable<bool> BlueZBluetoothSystem::callDevice(std::shared_ptr<State> state, std::string path,
                                                       const char* method) {
  auto bus = state->bus;
  try {
    auto proxy = bus->proxy(service, path);
    auto message = proxy->createMethodCall(deviceInterface, method);
    co_await bus->call(*proxy, std::move(message), state->options.connectTimeout);
  } catch (const DBusError& e) {
    state->logger.log(category, std::string(method) + " " + path + " failed: " + e.what());
    co_return false;
  } catch (const sdbus::Error& e) {
    state->logger.log(category, std::string(method) + " " + path + " failed: " + e.getMessage());
    co_return false;
  }
  co_return true;
}

asio::awaitable<bool> BlueZBluetoothSystem::connect(const Device& device) {
  return callDevice(state_, device.reference, "Connect");
}

asio::awaitable<bool> BlueZBluetoothSystem::disconnect(const Device& device) {
  return callDevice(state_, device.reference, "Disconnect");
}

}  // namespace glidemate::host
