#include "host/app/input_backend.hpp"

#include <asio/io_context.hpp>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "host/gnome/mutter_remote_desktop.hpp"
#include "host/portal/portal_remote_desktop.hpp"
#include "host/server/user_defaults.hpp"
#include "host/input/logging_event_poster.hpp"
#include "host/input/remote_desktop/remote_desktop_event_poster.hpp"
#include "host/input/remote_desktop/xkb_keyboard_layout.hpp"
#include "host/input/x11/x11_event_poster.hpp"
#include "host/wlroots/wlroots_virtual_input.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {
namespace {

constexpr const char* logCategory = "input";
// Start waits for these answers; a bus that does not answer this soon is
// taken as saying no.
constexpr std::chrono::milliseconds probeTimeout{2000};
// A compositor answers its registry at once; this bounds a hung one.
constexpr std::chrono::milliseconds waylandProbeTimeout{1000};

const std::string busName = "org.freedesktop.DBus";
const std::string busPath = "/org/freedesktop/DBus";
const std::string remoteDesktopName = "org.gnome.Mutter.RemoteDesktop";
const std::string portalName = "org.freedesktop.portal.Desktop";
const std::string portalPath = "/org/freedesktop/portal/desktop";
const std::string portalRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
const std::string portalVersionProperty = "version";
// Where the portal's restore token is kept among the host's settings.
const std::string portalTokenKey = "portalRestoreToken";
const std::string localeName = "org.freedesktop.locale1";
const std::string localePath = "/org/freedesktop/locale1";
const std::string layoutProperty = "X11Layout";
const std::string variantProperty = "X11Variant";

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// "fr,us" -> "fr": the first layout is the one a session starts with.
std::string firstOf(const std::string& list) { return list.substr(0, list.find(',')); }

asio::awaitable<bool> hasOwner(DBusConnection& bus, const std::string& name) {
  auto proxy = bus.proxy(busName, busPath);
  auto ask = proxy->createMethodCall(busName, "NameHasOwner");
  ask << name;
  try {
    auto reply = co_await bus.call(*proxy, std::move(ask), probeTimeout);
    bool owned = false;
    reply >> owned;
    co_return owned;
  } catch (const DBusError&) {
    co_return false;
  }
}

// Asking starts the portal when the bus activates it on demand.
asio::awaitable<bool> portalOffersRemoteDesktop(DBusConnection& bus) {
  auto proxy = bus.proxy(portalName, portalPath);
  try {
    co_await bus.getProperty(*proxy, portalRemoteDesktop, portalVersionProperty, probeTimeout);
    co_return true;
  } catch (const DBusError&) {
  } catch (const sdbus::Error&) {
  }
  co_return false;
}

asio::awaitable<void> readKeyboardLayout(DBusConnection& bus, SessionFacts& facts) {
  auto proxy = bus.proxy(localeName, localePath);
  try {
    const auto layout = co_await bus.getProperty(*proxy, localeName, layoutProperty, probeTimeout);
    const auto variant = co_await bus.getProperty(*proxy, localeName, variantProperty, probeTimeout);
    facts.keyboardLayout = firstOf(layout.get<std::string>());
    facts.keyboardVariant = firstOf(variant.get<std::string>());
  } catch (const DBusError&) {
    // No localed: the layout stays unknown.
  } catch (const sdbus::Error&) {
  }
}

bool isWaylandSession(const SessionFacts& facts) {
  if (facts.sessionType == "x11") return false;
  return facts.sessionType == "wayland" || !facts.waylandDisplay.empty();
}

}  // namespace

asio::awaitable<SessionFacts> readSessionFacts(std::shared_ptr<DBusConnection> sessionBus,
                                               std::shared_ptr<DBusConnection> systemBus) {
  SessionFacts facts;
  facts.sessionType = environmentValue("XDG_SESSION_TYPE");
  facts.waylandDisplay = environmentValue("WAYLAND_DISPLAY");
  if (sessionBus) facts.gnomeRemoteDesktop = co_await hasOwner(*sessionBus, remoteDesktopName);
  if (sessionBus && !facts.gnomeRemoteDesktop && isWaylandSession(facts)) {
    facts.portalRemoteDesktop = co_await portalOffersRemoteDesktop(*sessionBus);
  }
  if (systemBus && facts.gnomeRemoteDesktop) co_await readKeyboardLayout(*systemBus, facts);
  if (isWaylandSession(facts) && !facts.gnomeRemoteDesktop) {
    facts.wlrootsVirtualInput = offersVirtualInput(facts.waylandDisplay, waylandProbeTimeout);
  }
  co_return facts;
}

namespace {

asio::awaitable<void> readInto(std::shared_ptr<DBusConnection> sessionBus, std::shared_ptr<DBusConnection> systemBus,
                               std::optional<SessionFacts>& facts) {
  facts = co_await readSessionFacts(std::move(sessionBus), std::move(systemBus));
}

}  // namespace

SessionFacts readSessionFactsBeforeStart(asio::io_context& io, std::shared_ptr<DBusConnection> sessionBus,
                                         std::shared_ptr<DBusConnection> systemBus) {
  std::optional<SessionFacts> facts;
  Task asking(io.get_executor(), readInto(std::move(sessionBus), std::move(systemBus), facts));
  while (!asking.isDone() && io.run_one() > 0) {
  }
  // Running out of work stops the context; the host's own run starts afresh.
  io.restart();
  return facts ? std::move(*facts) : SessionFacts{};
}

InputChoice chooseInput(HostOptions::Input requested, const SessionFacts& facts) {
  switch (requested) {
    case HostOptions::Input::x11: return {InputRoute::x11, {}};
    case HostOptions::Input::gnome: return {InputRoute::gnome, {}};
    case HostOptions::Input::wlroots: return {InputRoute::wlroots, {}};
    case HostOptions::Input::portal: return {InputRoute::portal, {}};
    case HostOptions::Input::log: return {InputRoute::log, {}};
    case HostOptions::Input::none: return {InputRoute::none, {}};
    case HostOptions::Input::automatic: break;
  }
  if (!isWaylandSession(facts)) return {InputRoute::x11, {}};
  if (facts.gnomeRemoteDesktop) return {InputRoute::gnome, {}};
  if (facts.wlrootsVirtualInput) return {InputRoute::wlroots, {}};
  if (facts.portalRemoteDesktop) return {InputRoute::portal, {}};
  return {InputRoute::none,
          "This Wayland desktop offers the host no way to post input (neither GNOME's remote desktop nor the "
          "desktop portal's is on the session bus, and the compositor has no wlroots virtual pointer and "
          "keyboard); phones can connect but their input is refused"};
}

InputBackend::InputBackend(const InputChoice& choice, bool requestedByName, const SessionFacts& facts,
                           const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> sessionBus,
                           Logger& logger, UserDefaults* settings)
    : waylandSession_(isWaylandSession(facts)) {
  switch (choice.route) {
    case InputRoute::x11:
      openX11(requestedByName, logger);
      break;
    case InputRoute::gnome:
      openGnome(facts, executor, std::move(sessionBus), logger);
      break;
    case InputRoute::wlroots:
      openWlroots(facts, executor, logger);
      break;
    case InputRoute::portal:
      openPortal(executor, std::move(sessionBus), logger, settings);
      break;
    case InputRoute::log:
      poster_ = std::make_unique<LoggingEventPoster>(std::cerr);
      logger.log(logCategory, "Input is written to stderr, one line per event");
      break;
    case InputRoute::none:
      refusal_ = choice.refusal;
      logger.log(logCategory, refusal_.empty() ? "Input is off" : refusal_);
      break;
  }
}

InputBackend::~InputBackend() = default;

void InputBackend::openX11(bool requestedByName, Logger& logger) {
  try {
    auto x11 = std::make_unique<X11EventPoster>();
    x11Poster_ = x11.get();
    poster_ = std::move(x11);
  } catch (const std::exception& e) {
    if (requestedByName) throw;
    logger.log(logCategory, std::string("No display to drive (") + e.what() +
                                "); phones can connect but their input goes nowhere");
    return;
  }
  logger.log(logCategory, "Input goes to the X display through XTest");
}

void InputBackend::openGnome(const SessionFacts& facts, const asio::any_io_executor& executor,
                             std::shared_ptr<DBusConnection> sessionBus, Logger& logger) {
  if (!sessionBus) throw std::runtime_error("GNOME's remote desktop needs the session bus, and there is none");
  std::string layoutNote = "; characters outside ASCII are typed as Unicode entries";
  if (!facts.keyboardLayout.empty()) {
    try {
      layout_ = XkbKeyboardLayout::fromNames(facts.keyboardLayout, facts.keyboardVariant);
      layoutNote = "; keyboard layout " + facts.keyboardLayout +
                   (facts.keyboardVariant.empty() ? "" : " (" + facts.keyboardVariant + ")");
    } catch (const std::invalid_argument&) {
      layoutNote = "; unknown keyboard layout " + facts.keyboardLayout + ", " + layoutNote.substr(2);
    }
  }
  mutter_ = std::make_unique<MutterRemoteDesktop>(executor, std::move(sessionBus), logger);
  poster_ = std::make_unique<RemoteDesktopEventPoster>(*mutter_, layout_.get(), logger);
  logger.log(logCategory, "Input goes to GNOME's remote desktop on the session bus" +
                              std::string(facts.gnomeRemoteDesktop ? "" : " (once mutter is there)") + layoutNote);
}

void InputBackend::openWlroots(const SessionFacts& facts, const asio::any_io_executor& executor, Logger& logger) {
  wlroots_ = std::make_unique<WlrootsVirtualInput>(executor, logger,
                                                   WlrootsVirtualInput::Options{.display = facts.waylandDisplay});
  layout_ = std::make_unique<VirtualKeyboardLayout>();
  poster_ = std::make_unique<RemoteDesktopEventPoster>(*wlroots_, layout_.get(), logger);
  wlrootsRoute_ = WlrootsRoute{facts.waylandDisplay, poster_.get()};
  logger.log(logCategory, "Input goes to the Wayland compositor's virtual pointer and keyboard (wlroots protocols)" +
                              std::string(facts.wlrootsVirtualInput ? "" : ", once the compositor offers them") +
                              "; every character is typed through the host's own keymap");
}

void InputBackend::openPortal(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> sessionBus,
                              Logger& logger, UserDefaults* settings) {
  if (!sessionBus) throw std::runtime_error("The desktop portal needs the session bus, and there is none");
  PortalRemoteDesktop::Options options;
  if (settings != nullptr) {
    options.restoreToken = settings->string(portalTokenKey).value_or("");
    options.restoreTokenChanged = [settings, &logger](const std::string& token) {
      try {
        settings->set(portalTokenKey, token);
      } catch (const std::exception& e) {
        logger.log(logCategory, std::string("The desktop's permission can't be kept for the next start: ") +
                                    e.what());
      }
    };
  }
  const bool remembered = !options.restoreToken.empty();
  consentRemembered_ = remembered;
  options.stateChanged = [this] {
    if (consentChanged_) consentChanged_();
  };
  portal_ = std::make_unique<PortalRemoteDesktop>(executor, std::move(sessionBus), logger, std::move(options));
  // Without a layout, characters outside ASCII go as Unicode entries.
  poster_ = std::make_unique<RemoteDesktopEventPoster>(*portal_, nullptr, logger);
  logger.log(logCategory, std::string("Input goes through the desktop portal's remote desktop: the desktop will ask "
                                      "the user to allow remote control of this computer") +
                              (remembered ? ", unless it remembers the answer given before" : ", once per start"));
}

InputBackend::Consent InputBackend::consent() const {
  if (!portal_) return Consent::none;
  if (portal_->isReady()) return Consent::allowed;
  return portal_->isRefused() ? Consent::refused : Consent::pending;
}

bool InputBackend::askForInputAgain() const {
  if (!portal_) return false;
  portal_->askAgain();
  return true;
}

}  // namespace glidemate::host
