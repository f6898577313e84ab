#pragma once

// host/gnome: what the host asks of GNOME's compositor, mutter, over the
// session bus, without a dialog: a remote-desktop session for input and
// the clipboard, and a screen-cast stream linked to it.

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "host/input/remote_desktop/remote_desktop_session.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate {
class DBusConnection;
}

namespace glidemate::host {

// One org.gnome.Mutter.RemoteDesktop session for the host's whole run, on
// the connection it is given (mutter ends a session when the connection
// that made it goes away). It is created as soon as mutter is on the bus,
// with a ScreenCast stream of the primary monitor linked to it, read
// through PipeWire for the pointer's place; the first key press and motion
// after it starts are harmless ones, because mutter makes its virtual
// devices on the first event and a client may miss that one.
//
// When mutter closes the session or leaves the bus, input is dropped (the
// poster says so once) until a new session is ready: when mutter comes
// back, or, after a close while mutter stayed, when input asks for one
// (at most once per `retryInterval`). Without PipeWire the session runs
// without a stream. Main executor only.
class MutterRemoteDesktop final : public RemoteDesktopSession {
 public:
  struct Options {
    std::chrono::milliseconds callTimeout{5000};
    std::chrono::milliseconds retryInterval{3000};
    // Whether to link a screen-cast stream at all.
    bool screenCast = true;
    int cursorFramesPerSecond = 10;
  };

  MutterRemoteDesktop(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> connection,
                      Logger& logger, Options options);
  MutterRemoteDesktop(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> connection,
                      Logger& logger)
      : MutterRemoteDesktop(executor, std::move(connection), logger, Options{}) {}
  // Stops the session.
  ~MutterRemoteDesktop() override;
  MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
  MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

  bool isReady() const override;
  std::uint64_t generation() const override;
  void inputWanted() override;
  void pointerMotionRelative(double dx, double dy) override;
  bool pointerMotionAbsolute(ScreenPoint position) override;
  void pointerButton(std::int32_t button, bool pressed) override;
  void pointerAxis(double dx, double dy, bool finish) override;
  void keyboardKeycode(std::uint32_t key, bool pressed) override;
  void keyboardKeysym(std::uint32_t keysym, bool pressed) override;
  std::optional<ScreenPoint> pointerPosition() const override;
  std::optional<std::vector<ScreenRect>> monitors() const override;
  std::optional<double> refreshRate() const override;

  // What else uses the session (the clipboard) learns of it here: the
  // observer is called with the session's object path each time one
  // becomes ready (at once if one is), and with an empty path when it
  // goes. One observer at a time; an empty function removes it.
  using SessionObserver = std::function<void(const std::string& sessionPath)>;
  void setSessionObserver(SessionObserver observer);
  // The connection the session lives on (mutter ties it to it).
  const std::shared_ptr<DBusConnection>& connection() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
