#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace glidemate {
class DBusConnection;
}

namespace glidemate::host {

// A screen cast of mutter's primary monitor on its own, linked to no
// remote-desktop session: what the screen preview watches while someone
// views it. The cursor comes as metadata beside the frames (position and
// picture), so the preview knows where the pointer is and draws it itself.
// Main executor only.
class MutterScreenCast {
 public:
  struct Options {
    std::chrono::milliseconds callTimeout{5000};
  };

  MutterScreenCast(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> connection,
                   Options options);
  // Stops the cast if it runs.
  ~MutterScreenCast();
  MutterScreenCast(const MutterScreenCast&) = delete;
  MutterScreenCast& operator=(const MutterScreenCast&) = delete;

  // Creates and starts the cast; the PipeWire node of its stream. Throws
  // DBusError, also when the stream is not published in time.
  asio::awaitable<std::uint32_t> start();

  // Called once, on the main executor, when mutter closes the cast or
  // leaves the bus after start() succeeded.
  void onEnded(std::function<void()> ended);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
