#include "tests/kit/transport/usbmux/fake_usbmux_daemon.hpp"

#include <plist/plist.h>
#include <stdlib.h>

#include <array>
#include <asio/co_spawn.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <stdexcept>

namespace glidemate::testing {
namespace {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Bytes xml(const Plist& dict) {
  char* text = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(dict.get(), &text, &length);
  Bytes out(text, text + length);
  plist_to_xml_free(text);
  return out;
}

Plist message(const std::string& type) {
  Plist dict(plist_new_dict());
  plist_dict_set_item(dict.get(), "MessageType", plist_new_string(type.c_str()));
  return dict;
}

std::uint32_t word(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::string text(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return {};
  return plist_get_string_ptr(node, nullptr);
}

std::optional<std::uint64_t> number(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  std::uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return value;
}

// Copies bytes one way until either side ends, then closes both.
template <class From, class To>
asio::awaitable<void> pump(std::shared_ptr<From> from, std::shared_ptr<To> to) {
  std::array<std::uint8_t, 16384> buffer{};
  for (;;) {
    asio::error_code ec;
    const std::size_t n = co_await from->async_read_some(asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
    if (n > 0) {
      asio::error_code writeError;
      co_await asio::async_write(*to, asio::buffer(buffer.data(), n), asio::redirect_error(asio::use_awaitable, writeError));
      if (writeError) ec = writeError;
    }
    if (ec) break;
  }
  asio::error_code ignored;
  from->close(ignored);
  to->close(ignored);
}

}  // namespace

FakeUsbmuxDaemon::FakeUsbmuxDaemon(asio::io_context& io, bool running) : io_(io), acceptor_(io) {
  char pattern[] = "/tmp/glidemate-usbmuxd-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  socketPath_ = (folder_ / "usbmuxd").string();
  if (running) start();
}

void FakeUsbmuxDaemon::start() {
  if (acceptor_.is_open()) return;
  asio::local::stream_protocol::endpoint endpoint(socketPath_);
  acceptor_.open(endpoint.protocol());
  acceptor_.bind(endpoint);
  acceptor_.listen();
  spawn(acceptLoop());
}

void FakeUsbmuxDaemon::exit() {
  shutDown();
  dropListeners();
  for (auto& socket : held_) {
    asio::error_code ignored;
    socket->close(ignored);
  }
  held_.clear();
  // Ends every conversation and tunnel; their sockets close with them.
  tasks_.clear();
}

FakeUsbmuxDaemon::~FakeUsbmuxDaemon() {
  shutDown();
  dropListeners();
  for (auto& socket : held_) {
    asio::error_code ignored;
    socket->close(ignored);
  }
  tasks_.clear();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void FakeUsbmuxDaemon::spawn(asio::awaitable<void> work) { tasks_.emplace_back(io_.get_executor(), std::move(work)); }

// Small packets on a local socket: written at once, in order.
void FakeUsbmuxDaemon::write(const std::shared_ptr<Socket>& socket, Bytes bytes) {
  asio::error_code ignored;
  asio::write(*socket, asio::buffer(bytes), ignored);
}

Bytes FakeUsbmuxDaemon::packet(std::uint32_t tag, const Bytes& payload, std::uint32_t version) {
  Bytes out;
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put(static_cast<std::uint32_t>(16 + payload.size()));
  put(version);
  put(8);
  put(tag);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes FakeUsbmuxDaemon::resultPayload(std::int64_t value) {
  auto dict = message("Result");
  plist_dict_set_item(dict.get(), "Number", plist_new_uint(static_cast<std::uint64_t>(value)));
  return xml(dict);
}

void FakeUsbmuxDaemon::attach(std::uint32_t deviceId, std::optional<std::string> serialNumber,
                              std::string connectionType) {
  auto dict = message("Attached");
  plist_dict_set_item(dict.get(), "DeviceID", plist_new_uint(deviceId));
  plist_t properties = plist_new_dict();
  plist_dict_set_item(properties, "ConnectionType", plist_new_string(connectionType.c_str()));
  plist_dict_set_item(properties, "DeviceID", plist_new_uint(deviceId));
  if (serialNumber) plist_dict_set_item(properties, "SerialNumber", plist_new_string(serialNumber->c_str()));
  plist_dict_set_item(dict.get(), "Properties", properties);
  sendRaw(packet(0, xml(dict)));
}

void FakeUsbmuxDaemon::detach(std::uint32_t deviceId) {
  auto dict = message("Detached");
  plist_dict_set_item(dict.get(), "DeviceID", plist_new_uint(deviceId));
  sendRaw(packet(0, xml(dict)));
}

void FakeUsbmuxDaemon::sendMessageType(const std::string& messageType) {
  sendRaw(packet(0, xml(message(messageType))));
}

void FakeUsbmuxDaemon::sendRaw(Bytes bytes) {
  for (const auto& socket : listeners_) write(socket, bytes);
}

void FakeUsbmuxDaemon::dropListeners() {
  for (auto& socket : listeners_) {
    asio::error_code ignored;
    socket->close(ignored);
  }
  listeners_.clear();
}

void FakeUsbmuxDaemon::shutDown() {
  asio::error_code ignored;
  acceptor_.close(ignored);
  std::error_code gone;
  std::filesystem::remove(socketPath_, gone);
}

std::size_t FakeUsbmuxDaemon::connectRequests() const {
  std::size_t count = 0;
  for (const auto& r : requests_) count += r.messageType == "Connect" ? 1 : 0;
  return count;
}

asio::awaitable<void> FakeUsbmuxDaemon::acceptLoop() {
  for (;;) {
    auto socket = std::make_shared<Socket>(io_);
    asio::error_code ec;
    co_await acceptor_.async_accept(*socket, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;
    spawn(serve(socket));
  }
}

asio::awaitable<void> FakeUsbmuxDaemon::serve(std::shared_ptr<Socket> socket) {
  Bytes header(16);
  asio::error_code ec;
  co_await asio::async_read(*socket, asio::buffer(header), asio::redirect_error(asio::use_awaitable, ec));
  if (ec) co_return;
  Request request;
  request.version = word(header, 4);
  request.message = word(header, 8);
  request.tag = word(header, 12);
  const std::uint32_t length = word(header, 0);
  if (length < 16 || length > 16 + 65536) co_return;
  Bytes payload(length - 16);
  co_await asio::async_read(*socket, asio::buffer(payload), asio::redirect_error(asio::use_awaitable, ec));
  if (ec) co_return;
  plist_t parsed = nullptr;
  plist_from_xml(reinterpret_cast<const char*>(payload.data()), static_cast<std::uint32_t>(payload.size()), &parsed);
  Plist dict(parsed);
  if (!dict) co_return;
  request.messageType = text(dict.get(), "MessageType");
  request.clientVersion = text(dict.get(), "ClientVersionString");
  request.progName = text(dict.get(), "ProgName");
  request.deviceId = number(dict.get(), "DeviceID");
  request.portNumber = number(dict.get(), "PortNumber");
  requests_.push_back(request);

  if (request.messageType == "Listen") {
    if (!listenResult) {
      held_.push_back(socket);
    } else {
      write(socket, packet(request.tag, resultPayload(*listenResult)));
      if (*listenResult == 0) listeners_.push_back(socket);
    }
    co_return;
  }
  if (request.messageType != "Connect") co_return;
  const auto deviceId = static_cast<std::uint32_t>(request.deviceId.value_or(0));
  const ConnectReply reply = onConnect ? onConnect(deviceId) : ConnectReply(Refuse{3});
  if (const auto* refuse = std::get_if<Refuse>(&reply)) {
    write(socket, packet(request.tag, resultPayload(refuse->code)));
  } else if (std::holds_alternative<Silent>(reply)) {
    held_.push_back(socket);
  } else if (const auto* raw = std::get_if<Raw>(&reply)) {
    write(socket, raw->bytes);
  } else {
    write(socket, packet(request.tag, resultPayload(0)));
    co_await bridge(socket, std::get<Bridge>(reply).tcpPort);
  }
}

asio::awaitable<void> FakeUsbmuxDaemon::bridge(std::shared_ptr<Socket> socket, std::uint16_t tcpPort) {
  auto phone = std::make_shared<asio::ip::tcp::socket>(io_);
  asio::error_code ec;
  co_await phone->async_connect({asio::ip::make_address("127.0.0.1"), tcpPort},
                                asio::redirect_error(asio::use_awaitable, ec));
  if (ec) co_return;
  spawn(pump(socket, phone));
  spawn(pump(phone, socket));
}

}  // namespace glidemate::testing
