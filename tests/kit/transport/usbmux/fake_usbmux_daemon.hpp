// Test fixture: a scripted cable multiplexer daemon on a temporary Unix
// socket, run on the test's io_context. It answers Listen, sends attach and
// detach notices (or any raw bytes) to its listeners, answers Connect as the
// test chooses and, on success, carries the tunnel's bytes to a loopback TCP
// port where a test phone listens. It reads and writes the packets itself,
// with libplist, so that it checks the client instead of mirroring it.
#pragma once

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kit/runtime/task.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate::testing {

class FakeUsbmuxDaemon {
 public:
  // How to answer a Connect.
  struct Refuse {
    std::int64_t code;
  };
  struct Silent {};
  struct Bridge {
    std::uint16_t tcpPort;
  };
  // These bytes, then hang up.
  struct Raw {
    Bytes bytes;
  };
  using ConnectReply = std::variant<Refuse, Silent, Bridge, Raw>;

  // A request as the daemon read it.
  struct Request {
    std::uint32_t version = 0;
    std::uint32_t message = 0;
    std::uint32_t tag = 0;
    std::string messageType;
    std::string clientVersion;
    std::string progName;
    std::optional<std::uint64_t> deviceId;
    std::optional<std::uint64_t> portNumber;
  };

  // `running` false: the socket's path is chosen, but nothing listens
  // there until start().
  explicit FakeUsbmuxDaemon(asio::io_context& io, bool running = true);
  ~FakeUsbmuxDaemon();
  FakeUsbmuxDaemon(const FakeUsbmuxDaemon&) = delete;
  FakeUsbmuxDaemon& operator=(const FakeUsbmuxDaemon&) = delete;

  const std::string& socketPath() const { return socketPath_; }

  // The result number Listen gets; non-zero leaves the connection unheard,
  // none leaves Listen unanswered.
  std::optional<std::int64_t> listenResult = 0;
  // The answer for a Connect to a device; refused with 3 unless set.
  std::function<ConnectReply(std::uint32_t deviceId)> onConnect;

  // Notices to every connection that listens now. A missing serial number
  // leaves the key out.
  void attach(std::uint32_t deviceId, std::optional<std::string> serialNumber, std::string connectionType);
  void detach(std::uint32_t deviceId);
  // A packet of the given message type with no further keys.
  void sendMessageType(const std::string& messageType);
  // Raw bytes, for packets the client must reject.
  void sendRaw(Bytes bytes);
  // Hangs up on every listener, as a daemon that dies would.
  void dropListeners();
  // Stops accepting and removes the socket.
  void shutDown();
  // Listens on the socket's path (again).
  void start();
  // As the daemon does when the last phone is unplugged: everything ends,
  // listeners, pending answers and tunnels, and the socket goes.
  void exit();

  std::size_t listeners() const { return listeners_.size(); }
  const std::vector<Request>& requests() const { return requests_; }
  std::size_t connectRequests() const;

  // A packet as the daemon sends it: header and an XML plist payload.
  static Bytes packet(std::uint32_t tag, const Bytes& payload, std::uint32_t version = 1);
  static Bytes resultPayload(std::int64_t number);

 private:
  using Socket = asio::local::stream_protocol::socket;

  asio::awaitable<void> acceptLoop();
  asio::awaitable<void> serve(std::shared_ptr<Socket> socket);
  asio::awaitable<void> bridge(std::shared_ptr<Socket> socket, std::uint16_t tcpPort);
  void spawn(asio::awaitable<void> work);
  void write(const std::shared_ptr<Socket>& socket, Bytes bytes);

  asio::io_context& io_;
  std::filesystem::path folder_;
  std::string socketPath_;
  asio::local::stream_protocol::acceptor acceptor_;
  std::vector<std::shared_ptr<Socket>> listeners_;
  std::vector<std::shared_ptr<Socket>> held_;
  std::vector<Request> requests_;
  std::list<Task> tasks_;
};

}  // namespace glidemate::testing
