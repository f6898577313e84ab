// Test fixture: BlueZ played by python-dbusmock (bluez_peripheral_mock.py
// beside this file) on a private system bus, with the centrals it plays
// driven from the test, and a phone's link through one of those centrals.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Types.h>
#include <string>

#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/ble/ble_protocol.hpp"
#include "kit/transport/transport.hpp"
#include "tests/support/private_bus.hpp"

namespace glidemate::testing {

class BlueZMock {
 public:
  using Properties = std::map<std::string, sdbus::Variant>;
  using Objects = std::map<sdbus::ObjectPath, std::map<std::string, Properties>>;

  // Starts the bus and BlueZ with one powered adapter, hci0.
  explicit BlueZMock(asio::io_context& io);

  // A connection to the bus for the code under test as well: sharing it
  // keeps the test's requests in order with that code's.
  const std::shared_ptr<DBusConnection>& bus() const { return bus_; }
  const std::string& address() const { return privateBus_.address(); }

  // BlueZ stops, as if it had crashed; start() brings a fresh one (without
  // adapters).
  void stop() { privateBus_.stopMocks(); }
  void start();

  std::string addAdapter(const std::string& name, bool powered = true);
  void removeAdapter(const std::string& name);
  void setPowered(const std::string& name, bool powered);
  // A central connected on hci0 with `mtu`; its device path.
  std::string connect(const std::string& address, std::uint16_t mtu);
  void disconnect(const std::string& device);
  void subscribe(const std::string& device, std::string uuid = std::string(BLEProtocol::outboundIdentifier));
  void unsubscribe(const std::string& device, std::string uuid = std::string(BLEProtocol::outboundIdentifier));
  // A write without response; throws DBusError when it is refused.
  void write(const std::string& device, const Bytes& value,
             std::string uuid = std::string(BLEProtocol::inboundIdentifier));
  // The next call of `method` fails with the error `name`.
  void refuse(const std::string& method, const std::string& name);
  // The registered application's tree and advertisement, as BlueZ read them.
  Objects application(const std::string& adapter = "hci0");
  Properties advertisement(const std::string& adapter = "hci0");

  // For use from coroutines (the phone's link).
  asio::awaitable<void> subscribeAsync(std::string device);
  asio::awaitable<void> writeAsync(std::string device, Bytes value);
  void unsubscribeLater(const std::string& device);

 private:
  sdbus::MethodReply call(sdbus::MethodCall call);
  sdbus::MethodCall method(const std::string& name) { return root_->createMethodCall(mockInterface, name); }

  static constexpr const char* mockInterface = "org.freedesktop.DBus.Mock";

  asio::io_context& io_;
  PrivateBus privateBus_{PrivateBus::Type::system};
  std::shared_ptr<DBusConnection> bus_;
  std::unique_ptr<sdbus::IProxy> root_;
};

// The phone's end of a link through one central of the mock: start()
// subscribes to the outbound characteristic, send() writes into the
// inbound one in pieces the link carries, and what the host notifies to
// this central arrives as reliable data.
class MockCentralLink final : public Transport {
 public:
  MockCentralLink(asio::io_context& io, BlueZMock& mock, std::string device, std::uint16_t mtu);
  ~MockCentralLink() override;

  TransportKind kind() const override { return TransportKind::ble; }
  bool hasUnreliableChannel() const override { return false; }
  AsyncStream<TransportEvent>& events() override { return events_.first; }
  void start() override;
  asio::awaitable<void> send(Bytes data, Channel channel) override;
  void close() override;

  // Each notification this central received, as it came.
  const std::vector<Bytes>& notifications() const { return notifications_; }

 private:
  asio::io_context& io_;
  BlueZMock& mock_;
  std::string device_;
  std::size_t piece_;
  std::pair<AsyncStream<TransportEvent>, StreamProducer<TransportEvent>> events_;
  sdbus::Slot notified_;
  Task subscribing_;
  std::vector<Bytes> notifications_;
  bool started_ = false;
  bool closed_ = false;
};

}  // namespace glidemate::testing
