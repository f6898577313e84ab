#pragma once

#include <asio/awaitable.hpp>
#include <chrono>
#include <functional>
#include <sdbus-c++/Types.h>
#include <string>

#include "kit/dbus/dbus_connection.hpp"

namespace glidemate {

// Tells `changed` the new owner of `name` on `connection` (empty: it left
// the bus) on every change, for as long as the returned slot is kept.
sdbus::Slot watchNameOwner(DBusConnection& connection, const std::string& name,
                           std::function<void(const std::string& owner)> changed);

// Who owns `name` now; empty when nobody does or the bus did not answer
// within `timeout`.
asio::awaitable<std::string> nameOwner(DBusConnection& connection, std::string name,
                                       std::chrono::milliseconds timeout);

}  // namespace glidemate
