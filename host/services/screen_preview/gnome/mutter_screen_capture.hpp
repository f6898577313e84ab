#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <memory>

#include "host/services/screen_preview/screen_capture.hpp"

namespace glidemate {
class DBusConnection;
}

namespace glidemate::host {

class PipeWireScreenStream;

// The screen preview's capture on GNOME's Wayland session: a screen cast of
// mutter's primary monitor of the preview's own (not the input session's,
// which runs all the time at a low rate), made when someone watches and
// stopped when nobody does, its frames read through PipeWire.
//
// The cast is made on the main executor, where D-Bus lives: start() asks
// for it there and waits on the capture thread for the answer. A wake()
// meanwhile lets start() return at once (the preview may be stopping, and
// the main executor may be waiting for this thread); the stream then joins
// when mutter publishes it. Frames and the cursor arrive on PipeWire's
// thread; the newest are kept for the capture thread to copy from, so a
// still screen, which mutter sends no frames for, can still be grabbed.
//
// When mutter closes the cast, leaves the bus, or the stream ends, the
// capture reports the display lost; the next start() makes a new cast.
// The preview shows the primary monitor only; it does not follow the
// pointer to another one.
class MutterScreenCapture final : public ScreenCapture {
 public:
  struct Options {
    std::chrono::milliseconds callTimeout{5000};
    int framesPerSecond = 24;
  };

  MutterScreenCapture(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> sessionBus,
                      Options options);
  MutterScreenCapture(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> sessionBus)
      : MutterScreenCapture(executor, std::move(sessionBus), Options{}) {}
  ~MutterScreenCapture() override;
  MutterScreenCapture(const MutterScreenCapture&) = delete;
  MutterScreenCapture& operator=(const MutterScreenCapture&) = delete;

  void start(Logger& log) override;
  void stop() override;
  bool waitForChange(std::chrono::steady_clock::time_point until) override;
  void wake() override;
  DisplayLocation locate() override;
  std::optional<CapturedFrame> grab(PixelRect region) override;

 private:
  struct Shared;
  struct MainSide;

  void connect(std::uint32_t node);

  asio::any_io_executor executor_;
  Options options_;
  std::shared_ptr<Shared> shared_;
  std::shared_ptr<MainSide> main_;
  // The capture thread's own.
  std::unique_ptr<PipeWireScreenStream> stream_;
  std::vector<std::uint8_t> held_;
  CursorImage heldCursor_;
};

}  // namespace glidemate::host
