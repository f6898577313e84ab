// The cable: phones on a USB cable are reached through the system's
// multiplexer daemon (usbmuxd) over its Unix-domain socket. One long-lived
// connection hears attach and detach notices; each session gets a fresh
// connection that the daemon turns into a byte stream to a TCP port on the
// phone (a "tunnel"), which the host wraps as a StreamTransport of kind
// `usb`. Packets are a 16-byte header and an XML property list.
#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/local/stream_protocol.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "kit/runtime/async_stream.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/usbmux/usbmux_device.hpp"

namespace glidemate {

// Talks to the daemon. Lives on one executor and is used only from it.
// Owned by std::shared_ptr: the notice loop holds it weakly.
//
// The client never reconnects by itself: once the notice connection is
// lost (`Disconnected`), start() does nothing until stop() has run, so the
// owner decides whether and when to try again.
class USBMuxClient : public std::enable_shared_from_this<USBMuxClient> {
 public:
  using Socket = asio::local::stream_protocol::socket;
  using Duration = std::chrono::steady_clock::duration;

  // A phone on a cable appeared (phones the daemon reaches over the
  // network are not reported).
  struct Attached {
    USBMuxDevice device;
    bool operator==(const Attached&) const = default;
  };
  struct Detached {
    std::uint32_t deviceId;
    bool operator==(const Detached&) const = default;
  };
  // The notice connection could not be made, was refused or broke. Not
  // reported for a connection that stop() ended.
  struct Disconnected {
    // False when nothing answered at the socket: the daemon is not running
    // (it is started when a phone is plugged in), rather than lost.
    bool daemonFound = true;
    bool operator==(const Disconnected&) const = default;
  };
  using Event = std::variant<Attached, Detached, Disconnected>;

  static constexpr std::string_view defaultSocketPath = "/var/run/usbmuxd";
  // How long the daemon may take to answer a Listen or a Connect.
  static constexpr Duration defaultReplyTimeout = std::chrono::seconds(5);

  // The daemon's socket: the environment variable USBMUXD_SOCKET_ADDRESS
  // ("UNIX:/path" or a plain path) when set, else defaultSocketPath.
  static std::string socketPath();

  static std::shared_ptr<USBMuxClient> make(const asio::any_io_executor& executor,
                                            std::string socketPath = USBMuxClient::socketPath(),
                                            Duration replyTimeout = defaultReplyTimeout);
  ~USBMuxClient();
  USBMuxClient(const USBMuxClient&) = delete;
  USBMuxClient& operator=(const USBMuxClient&) = delete;

  // Unbounded; one consumer at a time.
  AsyncStream<Event>& events() { return events_.first; }

  // Connects to the daemon and listens for notices. Does nothing while a
  // notice connection is recorded, even a lost one.
  void start();
  // Ends the notice connection and forgets it.
  void stop();

  // A connected byte stream to `port` on the device, through a fresh
  // connection to this client's daemon. Throws USBMuxError:
  // daemonUnavailable (no daemon, or the request could not be written),
  // refused(code) (the daemon's non-zero result), connectFailed (no answer
  // within the reply time-out, the daemon hung up, or an answer that is not
  // a result). A cancelled caller gets asio::system_error(operation_aborted).
  asio::awaitable<Socket> openTunnel(std::uint32_t deviceId, std::uint16_t port) const;
  static asio::awaitable<Socket> openTunnel(std::string socketPath, std::uint32_t deviceId, std::uint16_t port,
                                            Duration replyTimeout);

  const std::string& daemonSocketPath() const { return socketPath_; }

 private:
  USBMuxClient(const asio::any_io_executor& executor, std::string socketPath, Duration replyTimeout);

  static asio::awaitable<void> listenForNotices(std::weak_ptr<USBMuxClient> weak, std::shared_ptr<Socket> socket,
                                                std::string socketPath, Duration replyTimeout);
  static asio::awaitable<void> readNotices(std::weak_ptr<USBMuxClient> weak, std::shared_ptr<Socket> socket,
                                           std::string socketPath, Duration replyTimeout, bool& daemonFound);
  // The client, if it still exists and `socket` is still its notice
  // connection; otherwise the loop must say nothing more.
  static std::shared_ptr<USBMuxClient> owner(const std::weak_ptr<USBMuxClient>& weak,
                                             const std::shared_ptr<Socket>& socket);

  asio::any_io_executor executor_;
  std::string socketPath_;
  Duration replyTimeout_;
  std::pair<AsyncStream<Event>, StreamProducer<Event>> events_;
  std::shared_ptr<Socket> connection_;
  Task notices_;
};

}  // namespace glidemate
