#pragma once

// host/pipewire: reading a screen-cast stream that a Wayland compositor
// publishes on PipeWire (GNOME's ScreenCast, the desktop portal's), on
// PipeWire's own thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

class PipeWireScreenStream {
 public:
  // A frame as it arrives: 32-bit BGRX pixels (blue in the lowest byte),
  // rows from the top, valid only during the callback.
  struct Frame {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
  };
  // Where the stream's cursor metadata puts the pointer, in the stream's
  // pixels from its top-left corner, with the stream's size.
  // The cursor's picture: premultiplied ARGB pixels (alpha in the top
  // byte), row by row, and the hot spot that sits on the position.
  // Empty: the cursor is hidden.
  struct CursorPicture {
    int width = 0;
    int height = 0;
    int hotX = 0;
    int hotY = 0;
    std::vector<std::uint32_t> pixels;
  };
  struct Cursor {
    std::optional<std::pair<int, int>> position;  // nothing: not on this stream
    int streamWidth = 0;
    int streamHeight = 0;
    // Sent when the picture changes (compositors send it only then).
    std::optional<CursorPicture> picture;
  };

  struct Callbacks {
    // Each called on PipeWire's thread; none may block.
    std::function<void(const Cursor&)> cursor;
    std::function<void(const Frame&)> frame;  // may be empty: frames are not read
    std::function<void(const std::string& reason)> ended;
  };

  struct Options {
    std::uint32_t nodeId = 0;
    // A connection to the PipeWire daemon handed over by a portal; -1: the
    // user's own daemon. Taken over either way.
    int remoteFd = -1;
    // The compositor records at most this many frames a second for us; the
    // pointer's place is no fresher than that either.
    int maxFramesPerSecond = 10;
  };

  // Connects on a thread of its own. Throws std::runtime_error when the
  // daemon can't be reached.
  PipeWireScreenStream(Options options, Callbacks callbacks);
  // Disconnects; no callback runs once this returns.
  ~PipeWireScreenStream();
  PipeWireScreenStream(const PipeWireScreenStream&) = delete;
  PipeWireScreenStream& operator=(const PipeWireScreenStream&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace glidemate::host
