#pragma once

// host/services/screen_preview/pipewire: the preview's capture of a Wayland
// compositor's screen-cast stream, read through PipeWire; where the stream
// comes from (GNOME's mutter, the desktop portal) is a ScreenCastSource.

#include <asio/any_io_executor.hpp>
#include <memory>
#include <string>

#include "host/services/screen_preview/pipewire/screen_cast_source.hpp"
#include "host/services/screen_preview/screen_capture.hpp"

namespace glidemate::host {

class PipeWireScreenStream;

// The screen preview's capture of a screen-cast stream, connected when
// someone watches and let go when nobody does.
//
// The stream is asked of its source on the main executor, where D-Bus
// lives: start() asks for it there and waits on the capture thread for the
// answer. A wake() meanwhile lets start() return at once (the preview may
// be stopping, and the main executor may be waiting for this thread); the
// stream then joins when the source hands it over. Frames and the cursor
// arrive on PipeWire's thread; the newest are kept for the capture thread
// to copy from, so a still screen, which compositors send no frames for,
// can still be grabbed.
//
// When the source ends the stream (the cast is closed, its owner leaves
// the bus) or the stream ends, the capture reports the display lost; the
// next start() asks the source again. The preview shows the stream's one
// monitor; it does not follow the pointer to another one.
class PipeWireScreenCapture final : public ScreenCapture {
 public:
  struct Options {
    // The most frames a second asked of the compositor. A stream that
    // others read too (the portal session's) runs at the rate its first
    // reader asked for.
    int framesPerSecond = 24;
  };

  PipeWireScreenCapture(const asio::any_io_executor& executor, std::shared_ptr<ScreenCastSource> source,
                        Options options);
  PipeWireScreenCapture(const asio::any_io_executor& executor, std::shared_ptr<ScreenCastSource> source)
      : PipeWireScreenCapture(executor, std::move(source), Options{}) {}
  // Runs where the main executor does, once the capture thread has ended.
  ~PipeWireScreenCapture() override;
  PipeWireScreenCapture(const PipeWireScreenCapture&) = delete;
  PipeWireScreenCapture& operator=(const PipeWireScreenCapture&) = delete;

  void start(Logger& log) override;
  void stop() override;
  bool waitForChange(std::chrono::steady_clock::time_point until) override;
  void wake() override;
  DisplayLocation locate() override;
  std::optional<CapturedFrame> grab(PixelRect region) override;

 private:
  struct Shared;
  struct MainSide;

  void connect(ScreenCastSource::Stream stream);

  asio::any_io_executor executor_;
  Options options_;
  // The source's, read once: the source itself is the main executor's.
  std::string description_;
  std::shared_ptr<Shared> shared_;
  std::shared_ptr<MainSide> main_;
  // The capture thread's own.
  std::unique_ptr<PipeWireScreenStream> stream_;
  std::vector<std::uint8_t> held_;
  CursorImage heldCursor_;
};

}  // namespace glidemate::host
