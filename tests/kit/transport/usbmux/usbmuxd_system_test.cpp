// Against the system's own multiplexer daemon, Debian's usbmuxd. Version
// 1.1.1 always serves /var/run/usbmuxd (it has no option for another path),
// so this program holds the "usbmuxd" test lock, and uses a daemon that
// already serves there instead of starting a second one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/use_awaitable.hpp>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "kit/transport/usbmux/usbmux_client.hpp"
#include "kit/transport/usbmux/usbmux_error.hpp"
#include "kit/transport/usbmux/usbmux_message.hpp"
#include "kit/transport/usbmux/usbmux_stream.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::runAwaitable;
using testing::thrown;

const std::string socketPath(USBMuxClient::defaultSocketPath);

bool daemonAnswers() {
  asio::io_context io;
  asio::local::stream_protocol::socket socket(io);
  asio::error_code ec;
  socket.connect(asio::local::stream_protocol::endpoint(socketPath), ec);
  return !ec;
}

class UsbmuxdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (daemonAnswers()) return;
    if (geteuid() != 0) GTEST_SKIP() << "usbmuxd must be started as root to create " << socketPath;
    daemon_ = std::make_unique<testing::ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec usbmuxd --foreground --user root 2>&1"},
        std::vector<std::string>{}, true);
    // The daemon says so once its socket accepts clients.
    std::string output;
    for (std::string line = daemon_->readLine(); !line.empty(); line = daemon_->readLine()) {
      output += line + "\n";
      if (line.find("Initialization complete") != std::string::npos) return;
    }
    FAIL() << "usbmuxd did not start:\n" << output;
  }

  void TearDown() override {
    if (!daemon_) return;
    daemon_->stop();
    // It leaves its socket and pid file behind.
    std::error_code ignored;
    std::filesystem::remove(socketPath, ignored);
    std::filesystem::remove("/var/run/usbmuxd.pid", ignored);
  }

  asio::io_context io;

 private:
  std::unique_ptr<testing::ChildProcess> daemon_;
};

TEST_F(UsbmuxdTest, ListenIsAnsweredWithSuccess) {
  auto exchange = [this]() -> asio::awaitable<std::optional<USBMuxResponse>> {
    auto socket = std::make_shared<asio::local::stream_protocol::socket>(io);
    co_await socket->async_connect(asio::local::stream_protocol::endpoint(socketPath), asio::use_awaitable);
    USBMuxStream stream(socket);
    co_await stream.send(USBMuxMessage::listen(1));
    const USBMuxHeader header = co_await stream.receiveHeader();
    EXPECT_EQ(header.tag, 1u);
    const Bytes payload = co_await stream.receivePayload(header);
    co_return USBMuxMessage::parse(payload);
  };
  EXPECT_EQ(runAwaitable(io, exchange()), USBMuxResponse(USBMuxResponse::Result{0}));
}

TEST_F(UsbmuxdTest, ConnectToAnUnknownDeviceIsRefusedWithTheDaemonsNumber) {
  auto client = USBMuxClient::make(io.get_executor(), socketPath);
  auto open = [&]() -> asio::awaitable<void> { (void)co_await client->openTunnel(999, 27183); };
  const auto error = thrown<USBMuxError>([&] { runAwaitable(io, open()); });
  ASSERT_TRUE(error);
  // usbmuxd's "bad device" result.
  EXPECT_EQ(*error, USBMuxError::refused(2)) << error->what();
}

}  // namespace
}  // namespace glidemate
