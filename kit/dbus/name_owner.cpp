#include "kit/dbus/name_owner.hpp"

namespace glidemate {

sdbus::Slot watchNameOwner(DBusConnection& connection, const std::string& name,
                           std::function<void(const std::string& owner)> changed) {
  return connection.raw().addMatch(
      "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',interface='org.freedesktop.DBus',"
      "member='NameOwnerChanged',arg0='" +
          name + "'",
      [changed = std::move(changed)](sdbus::Message& message) {
        std::string watched, oldOwner, newOwner;
        message >> watched >> oldOwner >> newOwner;
        changed(newOwner);
      });
}

asio::awaitable<std::string> nameOwner(DBusConnection& connection, std::string name,
                                       std::chrono::milliseconds timeout) {
  auto bus = connection.proxy("org.freedesktop.DBus", "/org/freedesktop/DBus");
  auto ask = bus->createMethodCall("org.freedesktop.DBus", "GetNameOwner");
  ask << name;
  std::string owner;
  try {
    auto reply = co_await connection.call(*bus, std::move(ask), timeout);
    reply >> owner;
  } catch (const DBusError&) {
    // Nobody owns it (or the bus is gone): no owner.
  }
  co_return owner;
}

}  // namespace glidemate
