#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "kit/runtime/task.hpp"
#include "kit/transport/usbmux/usbmux_client.hpp"

namespace glidemate::host {

// Keeps the host reaching the cable multiplexer daemon. On Linux the daemon
// is started when a phone is plugged in and exits when the last one is
// unplugged, or is not running at all when the host starts: whenever the
// client cannot reach it, it is started again after a pause, for as long as
// the host runs. Each change (reached, lost, not there) is logged once, not
// every try. Lives on the main executor.
class CableDaemonRetry {
 public:
  using Log = std::function<void(const std::string&)>;
  using Duration = std::chrono::steady_clock::duration;

  CableDaemonRetry(asio::any_io_executor executor, std::weak_ptr<USBMuxClient> client, Duration delay, Log log);

  // The client's Connected event.
  void connected();
  // The client's Disconnected event: try again after the pause.
  void disconnected();
  // Stops trying and forgets what was said, for a host that stops.
  void reset();

 private:
  enum class State { starting, connected, waiting };

  static asio::awaitable<void> restartLater(std::weak_ptr<USBMuxClient> client, Duration delay);

  asio::any_io_executor executor_;
  std::weak_ptr<USBMuxClient> client_;
  Duration delay_;
  Log log_;
  State state_ = State::starting;
  Task retry_;
};

}  // namespace glidemate::host
