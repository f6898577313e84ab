#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kit/runtime/file_descriptor.hpp"

namespace glidemate::host {

// Where the preview's screen-cast stream comes from: a cast made for the
// preview (GNOME's mutter), or the stream of a session the desktop already
// granted (the desktop portal's). Main executor only.
class ScreenCastSource {
 public:
  // Keeps a stream going for as long as the capture reads it: a cast made
  // for the preview stops when it goes, a session's stream is merely no
  // longer watched.
  class Hold {
   public:
    virtual ~Hold() = default;
  };

  struct Stream {
    std::uint32_t node = 0;
    // A connection to the PipeWire daemon that serves the node, for the
    // reader to take over; -1: the user's own daemon.
    FileDescriptor remote{-1};
    std::unique_ptr<Hold> hold;
  };

  virtual ~ScreenCastSource() = default;

  // A stream for one start of the capture; each call makes its own.
  // `ended` runs at most once, on the main executor, when the stream's
  // source goes away while its hold is kept. Throws std::exception whose
  // what() says why there is no stream, in words for the log.
  virtual asio::awaitable<Stream> open(const std::function<void()>& ended) = 0;

  // What the capture shows and how, for the log: "GNOME's primary monitor
  // through a screen cast of mutter".
  virtual std::string description() const = 0;
};

}  // namespace glidemate::host
