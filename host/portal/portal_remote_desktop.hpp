#pragma once

// host/portal: what the host asks of the desktop portal
// (org.freedesktop.portal.Desktop) on the session bus: input through its
// RemoteDesktop interface, which the desktop lets through only after asking
// the user, and a ScreenCast stream of a monitor, which tells where the
// pointer is and shows the screen preview.

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "host/input/remote_desktop/remote_desktop_session.hpp"
#include "kit/runtime/file_descriptor.hpp"
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
    // The most frames a second this session's reader of the stream asks
    // for. A PipeWire node has one format for all its readers, fixed by
    // the first to connect, and this session's is the first: the screen
    // preview, reading the same stream later, gets no more than this.
    // Hence the preview's rate rather than the few a second the pointer's
    // place would need; compositors record a frame only when the screen
    // changed, so a still desktop costs no more at this rate.
    int streamFramesPerSecond = 24;
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

 public:
  // Keeps a watch of the session registered; once it goes, its callback
  // is no longer called.
  class SessionWatch {
   public:
    ~SessionWatch();
    SessionWatch(const SessionWatch&) = delete;
    SessionWatch& operator=(const SessionWatch&) = delete;

   private:
    friend class PortalRemoteDesktop;
    SessionWatch(std::weak_ptr<State> session, std::uint64_t id);
    std::weak_ptr<State> session_;
    std::uint64_t id_;
  };

  // The session's screen-cast stream for another reader (the screen
  // preview): its PipeWire node and a connection of its own to the daemon
  // that serves it, which the portal hands out anew at each call.
  struct ScreenCastRemote {
    std::uint32_t node = 0;
    FileDescriptor remote{-1};
    // While kept, the `ended` given to openScreenCastRemote() runs once,
    // on the executor, when this session ends (the desktop closes it, the
    // portal leaves the bus, this object goes).
    std::unique_ptr<SessionWatch> watch;
  };

  // Asks the portal for the stream of the session that is ready; never
  // asks the user again, and never makes another session. Throws
  // std::runtime_error, in words for the log, when no session is ready
  // (the user has not answered yet, or refused; the desktop closed it;
  // the portal is gone), it has no stream, or the portal refuses.
  asio::awaitable<ScreenCastRemote> openScreenCastRemote(const std::function<void()>& ended);

 private:
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
