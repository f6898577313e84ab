#pragma once

// kit/dbus: D-Bus on the main executor. One DBusConnection per bus is
// driven by the main asio::io_context: its descriptor and its time-outs are
// waited on there, so every sdbus-c++ callback (method replies, signal
// handlers, methods of exported objects) runs on the main executor and no
// thread of its own exists.

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <map>
#include <memory>
#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Message.h>
#include <sdbus-c++/Types.h>
#include <string>

#include "kit/dbus/dbus_error.hpp"

namespace glidemate {

class DBusConnection : public std::enable_shared_from_this<DBusConnection> {
 public:
  enum class Bus { session, system };

  static constexpr std::chrono::milliseconds defaultTimeout{5000};

  // Connects to the user's session bus or the system bus (their usual
  // environment variables name other addresses). Throws DBusError when
  // there is no such bus.
  static std::shared_ptr<DBusConnection> open(const asio::any_io_executor& executor, Bus bus);
  // Connects to the bus at `address` ("unix:path=...").
  static std::shared_ptr<DBusConnection> openAddress(const asio::any_io_executor& executor,
                                                     const std::string& address);

  ~DBusConnection();
  DBusConnection(const DBusConnection&) = delete;
  DBusConnection& operator=(const DBusConnection&) = delete;

  // For proxies, objects and matches made on this connection. Use it only
  // from the main executor. What sd-bus does through it synchronously (a
  // match added waits for the bus's answer) may read messages ahead of
  // their turn, which would then wait for the descriptor's next wake-up:
  // a pump is posted so that they are handled now.
  sdbus::IConnection& raw() {
    wake();
    return *connection_;
  }
  std::unique_ptr<sdbus::IProxy> proxy(std::string destination, std::string objectPath);

  // False once the bus went away or close() was called.
  bool isOpen() const;

  // Sends `call` and resumes on the main executor with the reply. Throws
  // DBusError for an error reply, a missing service, a vanished peer, a
  // closed bus, or when no reply came within `timeout`. Cancelling the
  // awaiting task abandons the call.
  asio::awaitable<sdbus::MethodReply> call(sdbus::IProxy& proxy, sdbus::MethodCall call,
                                           std::chrono::milliseconds timeout = defaultTimeout);
  // org.freedesktop.DBus.Properties Get and GetAll on the proxy's object.
  asio::awaitable<sdbus::Variant> getProperty(sdbus::IProxy& proxy, const std::string& interface,
                                              const std::string& name,
                                              std::chrono::milliseconds timeout = defaultTimeout);
  asio::awaitable<std::map<std::string, sdbus::Variant>> getAllProperties(
      sdbus::IProxy& proxy, const std::string& interface,
      std::chrono::milliseconds timeout = defaultTimeout);

  // Lets the connection flush what was sent outside one of its own
  // callbacks (a signal emitted from a timer, say). Cheap to call often.
  void wake();

  // Stops driving the bus: pending and later calls fail with DBusError.
  void close();
  // Returns once the connection is closed: the bus went away or close()
  // was called. For services that must give up what they held on the bus.
  asio::awaitable<void> closed();

 private:
  struct Driver;
  struct PendingCall;

  DBusConnection(const asio::any_io_executor& executor, std::unique_ptr<sdbus::IConnection> connection);
  void pump();
  void shutDown(const DBusError& error);

  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<Driver> driver_;
};

}  // namespace glidemate
