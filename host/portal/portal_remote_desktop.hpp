#pragma once

// host/portal: what the host asks of the desktop portal
// (org.freedesktop.portal.Desktop) on the session bus: input through its
// RemoteDesktop interface, which the desktop lets through only after asking
// the user, and a ScreenCast stream of a monitor to know where the pointer
// is.

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

// One portal RemoteDesktop session for the host's whole run, on the
// connection it is given (the portal ends a session when the connection
// that made it goes away). It is asked for as soon as the portal is on the
// bus; the desktop then asks the user to allow remote control, once. With
// the portal's version 2 the session asks to persist, and the token the
// portal hands back is offered at the next start (and kept by the caller
// through `restoreTokenChanged`), so that desktops which honour it do not
// ask again.
//
// When the user refuses, input stays off, and the user is not asked again
// until askAgain() (or the next start). When the portal closes the
// session, fails, or leaves the bus, input is dropped (the poster says so
// once) until a new session is ready: when the portal comes back, or when
// input asks for one (at most once per `retryInterval`). Without a screen
// cast the session runs without a stream, and the pointer moves only
// relatively. Main executor only.
class PortalRemoteDesktop final : public RemoteDesktopSession {
 public:
  struct Options {
    // For the calls the portal answers at once; the user's answer to its
    // dialog is waited for as long as it takes.
    std::chrono::milliseconds callTimeout{5000};
    std::chrono::milliseconds retryInterval{3000};
    // Whether to select a screen-cast stream at all.
    bool screenCast = true;
    int cursorFramesPerSecond = 10;
    // A token from an earlier run, or empty.
    std::string restoreToken;
    // Called with each new token (each works once), to be kept for the
    // next start.
    std::function<void(const std::string&)> restoreTokenChanged;
    // Called after isReady() or isRefused() changed, so that what shows
    // the user where the desktop's question stands can follow it.
    std::function<void()> stateChanged;
  };

  PortalRemoteDesktop(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> connection,
                      Logger& logger, Options options);
  // Closes the session.
  ~PortalRemoteDesktop() override;
  PortalRemoteDesktop(const PortalRemoteDesktop&) = delete;
  PortalRemoteDesktop& operator=(const PortalRemoteDesktop&) = delete;

  // True after the user refused and until askAgain().
  bool isRefused() const;
  // Asks the desktop for a session again after the user refused.
  void askAgain();

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

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
