#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/app/host_options.hpp"
#include "host/app/wlroots_route.hpp"
#include "host/input/event_poster.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/logger.hpp"

namespace asio {
class io_context;
}

namespace glidemate::host {

class X11EventPoster;
class MutterRemoteDesktop;
class WlrootsVirtualInput;
class PortalRemoteDesktop;
class KeyboardLayout;
class UserDefaults;

// What the host learns at start about the desktop session it runs in.
struct SessionFacts {
  std::string sessionType;     // $XDG_SESSION_TYPE
  std::string waylandDisplay;  // $WAYLAND_DISPLAY
  // Whether GNOME's remote desktop answers on the session bus.
  bool gnomeRemoteDesktop = false;
  // Whether the Wayland compositor offers wlroots' virtual pointer and
  // keyboard (asked only where GNOME's remote desktop is not there).
  bool wlrootsVirtualInput = false;
  // Whether the desktop portal offers a remote desktop (asked only on a
  // Wayland session without GNOME's).
  bool portalRemoteDesktop = false;
  // The system's keyboard layout (localed's first X11 layout), if known.
  std::string keyboardLayout;
  std::string keyboardVariant;
};

// Reads the environment and asks the buses (either may be null); each
// question is bounded by a short time-out.
asio::awaitable<SessionFacts> readSessionFacts(std::shared_ptr<DBusConnection> sessionBus,
                                               std::shared_ptr<DBusConnection> systemBus);

// The same, asked on `io` before anything else is served there: runs `io`
// until the answers are in, then leaves it ready to run afresh. A question
// that failed outright counts as unanswered.
SessionFacts readSessionFactsBeforeStart(asio::io_context& io, std::shared_ptr<DBusConnection> sessionBus,
                                         std::shared_ptr<DBusConnection> systemBus);

enum class InputRoute { x11, gnome, wlroots, portal, log, none };

struct InputChoice {
  InputRoute route = InputRoute::none;
  // With `none` where input was wanted: why no backend can deliver it.
  std::string refusal;
};

// On a Wayland session XTest would only reach XWayland's own pointer, so
// input goes through the compositor (GNOME's own remote desktop first,
// then the desktop portal's) or nowhere; elsewhere it goes to the X
// display.
InputChoice chooseInput(HostOptions::Input requested, const SessionFacts& facts);

// The event poster of the chosen route with what it needs, owned for the
// host's whole run. Says in one log line where input goes.
class InputBackend {
 public:
  // Throws std::runtime_error when a route asked for by name can't be
  // built; an automatic choice falls back to no input instead. The portal
  // route keeps the token that spares the user a second question in
  // `settings` (may be null: the user is then asked at every start).
  InputBackend(const InputChoice& choice, bool requestedByName, const SessionFacts& facts,
               const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> sessionBus, Logger& logger,
               UserDefaults* settings = nullptr);
  ~InputBackend();
  InputBackend(const InputBackend&) = delete;
  InputBackend& operator=(const InputBackend&) = delete;

  // Whether the host runs in a Wayland session, whatever the route.
  bool waylandSession() const { return waylandSession_; }
  // Null when input goes nowhere.
  EventPoster* poster() const { return poster_.get(); }
  // Why this desktop offers no way to post input, when it offers none;
  // empty otherwise (input turned off on purpose, or an X display that
  // could not be opened).
  const std::string& refusal() const { return refusal_; }
  X11EventPoster* x11Poster() const { return x11Poster_; }
  // GNOME's remote-desktop session when input goes there, else null.
  MutterRemoteDesktop* mutter() const { return mutter_.get(); }
  // Set when input goes to a wlroots compositor.
  const WlrootsRoute* wlroots() const { return wlrootsRoute_ ? &*wlrootsRoute_ : nullptr; }
  // The desktop portal's remote-control session when input goes there,
  // else null.
  PortalRemoteDesktop* portal() const { return portal_.get(); }
  // On the portal route, asks the desktop again to allow remote control
  // (after the user refused); false on other routes.
  bool askForInputAgain() const;

  // Where the desktop's own question to the user, whether to allow remote
  // control, stands. Only the portal route asks: the others are `none`.
  enum class Consent {
    none,
    // The question is open, or about to be asked (at start, or for a new
    // session after the desktop ended one).
    pending,
    refused,
    allowed,
  };
  Consent consent() const;
  // Whether the desktop was handed an earlier answer to restore.
  bool consentRemembered() const { return consentRemembered_; }
  // Called on the main executor whenever consent() changed; replaces the
  // one set before (null: nobody is told).
  void onConsentChanged(std::function<void()> changed) { consentChanged_ = std::move(changed); }

 private:
  void openX11(bool requestedByName, Logger& logger);
  void openGnome(const SessionFacts& facts, const asio::any_io_executor& executor,
                 std::shared_ptr<DBusConnection> sessionBus, Logger& logger);
  void openWlroots(const SessionFacts& facts, const asio::any_io_executor& executor, Logger& logger);
  void openPortal(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> sessionBus, Logger& logger,
                  UserDefaults* settings);

  // Declared before the poster, which uses them.
  std::unique_ptr<MutterRemoteDesktop> mutter_;
  std::unique_ptr<WlrootsVirtualInput> wlroots_;
  std::unique_ptr<PortalRemoteDesktop> portal_;
  std::unique_ptr<KeyboardLayout> layout_;
  std::unique_ptr<EventPoster> poster_;
  X11EventPoster* x11Poster_ = nullptr;
  bool waylandSession_;
  std::optional<WlrootsRoute> wlrootsRoute_;
  std::string refusal_;
  bool consentRemembered_ = false;
  std::function<void()> consentChanged_;
};

}  // namespace glidemate::host
