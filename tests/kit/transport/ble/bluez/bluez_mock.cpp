#include "tests/kit/transport/ble/bluez/bluez_mock.hpp"

#include <algorithm>

#include "tests/support/run_awaitable.hpp"

namespace glidemate::testing {

BlueZMock::BlueZMock(asio::io_context& io) : io_(io) {
  start();
  bus_ = DBusConnection::openAddress(io.get_executor(), privateBus_.address());
  root_ = bus_->proxy("org.bluez", "/");
  addAdapter("hci0");
}

void BlueZMock::start() {
  privateBus_.startMock({"--template", GLIDEMATE_BLUEZ_MOCK, "--logfile", (privateBus_.folder() / "bluez.log").string()},
                        "org.bluez");
}

sdbus::MethodReply BlueZMock::call(sdbus::MethodCall message) {
  return runAwaitable(io_, bus_->call(*root_, std::move(message)));
}

std::string BlueZMock::addAdapter(const std::string& name, bool powered) {
  auto m = method("AddAdapter");
  m << name << powered;
  auto reply = call(std::move(m));
  sdbus::ObjectPath path;
  reply >> path;
  return path;
}

void BlueZMock::removeAdapter(const std::string& name) {
  auto m = method("RemoveAdapter");
  m << name;
  call(std::move(m));
}

void BlueZMock::setPowered(const std::string& name, bool powered) {
  auto m = method("SetPowered");
  m << name << powered;
  call(std::move(m));
}

std::string BlueZMock::connect(const std::string& address, std::uint16_t mtu) {
  auto m = method("Connect");
  m << std::string("hci0") << address << mtu;
  auto reply = call(std::move(m));
  sdbus::ObjectPath path;
  reply >> path;
  return path;
}

void BlueZMock::disconnect(const std::string& device) {
  auto m = method("Disconnect");
  m << sdbus::ObjectPath(device);
  call(std::move(m));
}

void BlueZMock::subscribe(const std::string& device, std::string uuid) {
  auto m = method("Subscribe");
  m << sdbus::ObjectPath(device) << uuid;
  call(std::move(m));
}

void BlueZMock::unsubscribe(const std::string& device, std::string uuid) {
  auto m = method("Unsubscribe");
  m << sdbus::ObjectPath(device) << uuid;
  call(std::move(m));
}

void BlueZMock::write(const std::string& device, const Bytes& value, std::string uuid) {
  auto m = method("Write");
  m << sdbus::ObjectPath(device) << uuid << value << std::string("command");
  call(std::move(m));
}

void BlueZMock::refuse(const std::string& methodName, const std::string& name) {
  auto m = method("Refuse");
  m << methodName << name;
  call(std::move(m));
}

BlueZMock::Objects BlueZMock::application(const std::string& adapter) {
  auto m = method("GetApplication");
  m << adapter;
  auto reply = call(std::move(m));
  Objects objects;
  reply >> objects;
  return objects;
}

BlueZMock::Properties BlueZMock::advertisement(const std::string& adapter) {
  auto m = method("GetAdvertisement");
  m << adapter;
  auto reply = call(std::move(m));
  Properties properties;
  reply >> properties;
  return properties;
}

asio::awaitable<void> BlueZMock::subscribeAsync(std::string device) {
  auto m = method("Subscribe");
  m << sdbus::ObjectPath(device) << std::string(BLEProtocol::outboundIdentifier);
  co_await bus_->call(*root_, std::move(m));
}

asio::awaitable<void> BlueZMock::writeAsync(std::string device, Bytes value) {
  auto m = method("Write");
  m << sdbus::ObjectPath(device) << std::string(BLEProtocol::inboundIdentifier) << value << std::string("command");
  co_await bus_->call(*root_, std::move(m));
}

void BlueZMock::unsubscribeLater(const std::string& device) {
  auto m = method("Unsubscribe");
  m << sdbus::ObjectPath(device) << std::string(BLEProtocol::outboundIdentifier);
  m.dontExpectReply();
  (void)root_->callMethod(m);
  bus_->wake();
}

MockCentralLink::MockCentralLink(asio::io_context& io, BlueZMock& mock, std::string device, std::uint16_t mtu)
    : io_(io),
      mock_(mock),
      device_(std::move(device)),
      piece_(mtu - 3u),
      events_(AsyncStream<TransportEvent>::make(io.get_executor())) {
  notified_ = mock_.bus()->raw().addMatch(
      "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Mock',member='Notified'",
      [this](sdbus::Message& message) {
        sdbus::ObjectPath to;
        Bytes value;
        message >> to >> value;
        if (to != device_ || closed_) return;
        notifications_.push_back(value);
        events_.second.yield(TransportEvent::Data{value, Channel::reliable});
      });
}

MockCentralLink::~MockCentralLink() = default;

void MockCentralLink::start() {
  if (started_) return;
  started_ = true;
  events_.second.yield(TransportEvent::Ready{});
  subscribing_ = Task(io_.get_executor(), mock_.subscribeAsync(device_));
}

asio::awaitable<void> MockCentralLink::send(Bytes data, Channel) {
  if (closed_) throw TransportError::closed();
  co_await subscribing_.join();
  for (std::size_t offset = 0; offset < data.size(); offset += piece_) {
    const auto begin = data.begin() + static_cast<std::ptrdiff_t>(offset);
    Bytes piece(begin, begin + static_cast<std::ptrdiff_t>(std::min(piece_, data.size() - offset)));
    try {
      co_await mock_.writeAsync(device_, std::move(piece));
    } catch (const DBusError& e) {
      throw TransportError::underlying(e.message());
    }
  }
}

void MockCentralLink::close() {
  if (closed_) return;
  closed_ = true;
  if (started_) mock_.unsubscribeLater(device_);
  events_.second.yield(TransportEvent::Closed{std::nullopt});
  events_.second.finish();
}

}  // namespace glidemate::testing
