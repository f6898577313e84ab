#include "host/portal/portal_remote_desktop.hpp"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/pipewire/pipewire_screen_stream.hpp"
#include "host/portal/portal_request.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/dbus/name_owner.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {
namespace {

constexpr const char* logCategory = "portal";

// Names live in strings of their own: awaited calls take them by
// reference, and no temporary may be made for them in a co_await.
const std::string portalName = "org.freedesktop.portal.Desktop";
const std::string portalPath = "/org/freedesktop/portal/desktop";
const std::string remoteDesktopInterface = "org.freedesktop.portal.RemoteDesktop";
const std::string screenCastInterface = "org.freedesktop.portal.ScreenCast";
const std::string sessionInterface = "org.freedesktop.portal.Session";
const std::string versionProperty = "version";
const std::string deviceTypesProperty = "AvailableDeviceTypes";
const std::string cursorModesProperty = "AvailableCursorModes";

constexpr std::uint32_t deviceKeyboard = 1;
constexpr std::uint32_t devicePointer = 2;
constexpr std::uint32_t sourceMonitor = 1;
// The stream carries the cursor as metadata, not drawn into its frames.
constexpr std::uint32_t cursorModeMetadata = 4;
// Permissions persist until the user revokes them.
constexpr std::uint32_t persistUntilRevoked = 2;
// The first RemoteDesktop version with persist_mode and restore_token.
constexpr std::uint32_t persistingVersion = 2;

using Vardict = std::map<std::string, sdbus::Variant>;

// Why no session came of an attempt.
struct Refused {};
struct PortalGone {};
struct Failure {
  std::string reason;
  // Only selecting the screen cast failed: a session without one may work.
  bool streamOnly = false;
};

template <class T>
std::optional<T> valueOf(const Vardict& results, const std::string& key) {
  const auto found = results.find(key);
  if (found == results.end() || !found->second.containsValueOfType<T>()) return std::nullopt;
  return found->second.get<T>();
}

std::string devicesText(std::uint32_t devices) {
  if ((devices & (deviceKeyboard | devicePointer)) == (deviceKeyboard | devicePointer)) return "pointer and keyboard";
  if ((devices & devicePointer) != 0) return "the pointer only";
  if ((devices & deviceKeyboard) != 0) return "the keyboard only";
  return "no input device";
}

}  // namespace

struct PortalRemoteDesktop::State : std::enable_shared_from_this<State> {
  State(const asio::any_io_executor& e, std::shared_ptr<DBusConnection> c, Logger& l, Options o)
      : executor(e), connection(std::move(c)), logger(l), options(std::move(o)), changed(e),
        portal(connection->proxy(portalName, portalPath)), restoreToken(options.restoreToken) {}

  asio::any_io_executor executor;
  std::shared_ptr<DBusConnection> connection;
  Logger& logger;
  Options options;
  Notifier changed;
  Task run;
  std::unique_ptr<sdbus::IProxy> portal;
  std::string restoreToken;
  const std::string tokenPrefix = std::to_string(std::random_device()());
  std::uint64_t tokens = 0;

  // The unique name of the portal's connection; empty while it is not on
  // the bus.
  std::string owner;
  sdbus::Slot ownerSlot;

  std::string sessionHandle;
  std::vector<sdbus::Slot> sessionSlots;
  bool closed = false;
  bool ready = false;
  std::uint64_t generation = 0;
  // The stream's PipeWire node, its monitor in the desktop's layout, and
  // the stream's pixels per point.
  std::optional<std::uint32_t> streamNode;
  std::optional<ScreenRect> streamArea;
  double streamScale = 1.0;
  std::unique_ptr<PipeWireScreenStream> pipewire;
  std::optional<ScreenPoint> pointer;

  // Called when the session ends, by watch.
  std::map<std::uint64_t, std::function<void()>> sessionWatches;
  std::uint64_t watchIds = 0;

  bool wanted = false;
  bool refused = false;
  // What stateChanged was last told of, as (ready, refused).
  std::pair<bool, bool> reported{false, false};
  bool askedAgain = false;
  bool sendFailureLogged = false;

  void log(const std::string& message) { logger.log(logCategory, message); }

  void report() {
    const std::pair<bool, bool> now{ready, refused};
    if (now == reported) return;
    reported = now;
    if (options.stateChanged) options.stateChanged();
  }

  // Tokens name object paths at the portal, which must not meet those of
  // another session made on the same connection.
  std::string nextToken() { return "glidemate_" + tokenPrefix + "_" + std::to_string(++tokens); }

  asio::awaitable<void> watchOwner() {
    std::weak_ptr<State> weak = weak_from_this();
    ownerSlot = watchNameOwner(*connection, portalName, [weak](const std::string& newOwner) {
      auto self = weak.lock();
      if (!self) return;
      self->owner = newOwner;
      self->changed.notifyAll();
    });
    // Not on the bus yet: the signal says when it comes.
    const std::string current = co_await nameOwner(*connection, portalName, options.callTimeout);
    if (owner.empty()) owner = current;
  }

  // Asks the bus to start the portal, which desktops install to be started
  // on demand; the owner's signal says when it is there.
  asio::awaitable<void> activate() {
    auto bus = connection->proxy("org.freedesktop.DBus", "/org/freedesktop/DBus");
    auto start = bus->createMethodCall("org.freedesktop.DBus", "StartServiceByName");
    start << portalName << std::uint32_t{0};
    try {
      co_await connection->call(*bus, std::move(start), options.callTimeout);
    } catch (const DBusError&) {
      // Not installed to be started: it may still come by itself.
    }
  }

  asio::awaitable<void> waitUntil(auto condition) {
    while (!condition()) co_await changed.wait();
  }

  // Waits until `condition` holds, or until input asks after a pause, so
  // that a failing portal is not hammered, or until askAgain().
  asio::awaitable<void> pause(auto condition) {
    wanted = false;
    bool due = false;
    asio::steady_timer timer(executor, options.retryInterval);
    timer.async_wait([weak = weak_from_this(), &due](const asio::error_code& error) {
      if (error) return;
      due = true;
      if (auto self = weak.lock()) self->changed.notifyAll();
    });
    const auto over = [&] { return condition() || (due && wanted) || askedAgain || !connection->isOpen(); };
    co_await waitUntil(over);
  }

  // Sends a request and waits for its Response, for as long as the user
  // takes when it is the dialog. Throws DBusError when the call itself
  // fails, PortalGone when the portal leaves meanwhile, Refused on the
  // user's no, Failure for the portal's other failures.
  asio::awaitable<Vardict> ask(sdbus::MethodCall call, const std::string& token, const std::string& step) {
    std::weak_ptr<State> weak = weak_from_this();
    PortalRequest request(*connection, portalName,
                          portalObjectPath(connection->raw().getUniqueName(), "request", token), [weak] {
                            if (auto self = weak.lock()) self->changed.notifyAll();
                          });
    const std::string servedBy = owner;
    auto reply = co_await connection->call(*portal, std::move(call), options.callTimeout);
    sdbus::ObjectPath handle;
    reply >> handle;
    request.follow(handle);
    const auto answered = [&] {
      return request.response().has_value() || owner != servedBy || !connection->isOpen() || closed;
    };
    co_await waitUntil(answered);
    if (!request.response()) {
      if (closed) throw Failure{"the desktop closed the session while " + step};
      throw PortalGone{};
    }
    const PortalResponse& response = *request.response();
    if (response.code == PortalResponse::cancelled) throw Refused{};
    if (response.code != PortalResponse::success) {
      throw Failure{step + " failed (the portal answered " + std::to_string(response.code) + ")"};
    }
    co_return response.results;
  }

  asio::awaitable<std::optional<std::uint32_t>> readProperty(const std::string& interface, const std::string& name) {
    try {
      const auto value = co_await connection->getProperty(*portal, interface, name, options.callTimeout);
      co_return value.get<std::uint32_t>();
    } catch (const DBusError&) {
    } catch (const sdbus::Error&) {
    }
    co_return std::nullopt;
  }

  // Creates, sets up and starts a session; the user is asked at the start.
  asio::awaitable<void> open(bool withStream) {
    const auto version = co_await readProperty(remoteDesktopInterface, versionProperty);
    if (!version) throw Failure{"the desktop portal offers no remote desktop"};
    const auto available = co_await readProperty(remoteDesktopInterface, deviceTypesProperty);
    const std::uint32_t devices = (deviceKeyboard | devicePointer) & available.value_or(deviceKeyboard | devicePointer);
    if (devices == 0) throw Failure{"the desktop portal offers neither pointer nor keyboard"};
    std::optional<std::uint32_t> cursorModes;
    if (withStream) {
      cursorModes = co_await readProperty(screenCastInterface, cursorModesProperty);
      if (!cursorModes) throw Failure{"the desktop portal offers no screen cast", true};
    }

    closed = false;
    const std::string sessionToken = nextToken();
    const std::string createToken = nextToken();
    auto create = portal->createMethodCall(remoteDesktopInterface, "CreateSession");
    const Vardict createOptions{{"handle_token", sdbus::Variant(createToken)},
                                {"session_handle_token", sdbus::Variant(sessionToken)}};
    create << createOptions;
    const std::string createStep = "creating the session";
    const auto created = co_await ask(std::move(create), createToken, createStep);
    // Portals have answered with the handle as a string as well as a path.
    if (auto text = valueOf<std::string>(created, "session_handle")) {
      sessionHandle = *text;
    } else if (auto path = valueOf<sdbus::ObjectPath>(created, "session_handle")) {
      sessionHandle = *path;
    } else {
      sessionHandle = portalObjectPath(connection->raw().getUniqueName(), "session", sessionToken);
    }
    std::weak_ptr<State> weak = weak_from_this();
    sessionSlots.push_back(connection->raw().addMatch(
        "type='signal',sender='" + portalName + "',path='" + sessionHandle + "',interface='" + sessionInterface +
            "',member='Closed'",
        [weak](sdbus::Message&) {
          auto self = weak.lock();
          if (!self) return;
          self->closed = true;
          self->changed.notifyAll();
        }));

    const std::string selectToken = nextToken();
    Vardict selectOptions{{"handle_token", sdbus::Variant(selectToken)}, {"types", sdbus::Variant(devices)}};
    if (*version >= persistingVersion) {
      selectOptions.emplace("persist_mode", sdbus::Variant(persistUntilRevoked));
      if (!restoreToken.empty()) selectOptions.emplace("restore_token", sdbus::Variant(restoreToken));
    }
    auto select = portal->createMethodCall(remoteDesktopInterface, "SelectDevices");
    select << sdbus::ObjectPath(sessionHandle) << selectOptions;
    const std::string selectStep = "choosing the pointer and keyboard";
    co_await ask(std::move(select), selectToken, selectStep);

    if (withStream) co_await selectSources(*cursorModes);

    const std::string startToken = nextToken();
    const Vardict startOptions{{"handle_token", sdbus::Variant(startToken)}};
    auto start = portal->createMethodCall(remoteDesktopInterface, "Start");
    start << sdbus::ObjectPath(sessionHandle) << std::string() << startOptions;
    const std::string startStep = "starting the session";
    const auto started = co_await ask(std::move(start), startToken, startStep);
    takeStart(started);
  }

  asio::awaitable<void> selectSources(std::uint32_t cursorModes) {
    const std::string token = nextToken();
    Vardict sourceOptions{{"handle_token", sdbus::Variant(token)},
                          {"types", sdbus::Variant(sourceMonitor)},
                          {"multiple", sdbus::Variant(false)}};
    // A mode the portal does not offer would close the session.
    if ((cursorModes & cursorModeMetadata) != 0) {
      sourceOptions.emplace("cursor_mode", sdbus::Variant(cursorModeMetadata));
    }
    auto sources = portal->createMethodCall(screenCastInterface, "SelectSources");
    sources << sdbus::ObjectPath(sessionHandle) << sourceOptions;
    const std::string step = "choosing the screen cast";
    std::optional<std::string> failure;
    try {
      co_await ask(std::move(sources), token, step);
    } catch (const DBusError& e) {
      failure = e.message();
    } catch (const Failure& e) {
      failure = e.reason;
    }
    if (failure) throw Failure{*failure, true};
  }

  void takeStart(const Vardict& results) {
    if (auto token = valueOf<std::string>(results, "restore_token"); token && *token != restoreToken) {
      restoreToken = *token;
      if (options.restoreTokenChanged) options.restoreTokenChanged(restoreToken);
    }
    if (auto devices = valueOf<std::uint32_t>(results, "devices");
        devices && (*devices & (deviceKeyboard | devicePointer)) != (deviceKeyboard | devicePointer)) {
      log("Desktop portal: the user allowed " + devicesText(*devices) + "; the rest of the input is dropped");
    }
    using Stream = sdbus::Struct<std::uint32_t, Vardict>;
    const auto streams = valueOf<std::vector<Stream>>(results, "streams");
    if (!streams || streams->empty()) return;
    const Stream& stream = streams->front();
    streamNode = std::get<0>(stream);
    const Vardict& properties = std::get<1>(stream);
    using Pair = sdbus::Struct<std::int32_t, std::int32_t>;
    const auto size = valueOf<Pair>(properties, "size");
    if (!size || std::get<0>(*size) <= 0 || std::get<1>(*size) <= 0) return;
    // Without a position the stream's own corner is the origin; the
    // pointer's place and absolute moves are both taken from it.
    const auto position = valueOf<Pair>(properties, "position").value_or(Pair{0, 0});
    streamArea = ScreenRect{static_cast<double>(std::get<0>(position)), static_cast<double>(std::get<1>(position)),
                            static_cast<double>(std::get<0>(*size)), static_cast<double>(std::get<1>(*size))};
  }

  void becomeReady() {
    ready = true;
    ++generation;
    wanted = false;
    sendFailureLogged = false;
    log(std::string("Desktop portal: remote control allowed, session ready") +
        (streamNode ? "" : ", without a screen-cast stream"));
    report();
  }

  // A new connection to the PipeWire daemon that serves the session's
  // stream. Throws DBusError or sdbus::Error.
  asio::awaitable<sdbus::UnixFd> openPipeWireRemote() {
    auto openRemote = portal->createMethodCall(screenCastInterface, "OpenPipeWireRemote");
    const Vardict none;
    openRemote << sdbus::ObjectPath(sessionHandle) << none;
    auto reply = co_await connection->call(*portal, std::move(openRemote), options.callTimeout);
    sdbus::UnixFd fd;
    reply >> fd;
    co_return fd;
  }

  // Reads the stream for the pointer's place, through the PipeWire
  // connection the portal hands out for this session.
  asio::awaitable<void> followPointer() {
    if (!streamNode) co_return;
    const std::uint64_t forGeneration = generation;
    sdbus::UnixFd fd;
    std::optional<std::string> failure;
    try {
      fd = co_await openPipeWireRemote();
    } catch (const DBusError& e) {
      failure = e.message();
    } catch (const sdbus::Error& e) {
      failure = e.getMessage();
    }
    if (failure) {
      log("Desktop portal: the pointer's place can't be followed (" + *failure + "); the pointer is moved relatively");
      co_return;
    }
    if (forGeneration != generation || !ready) co_return;
    std::weak_ptr<State> weak = weak_from_this();
    PipeWireScreenStream::Callbacks callbacks;
    callbacks.cursor = [weak, forGeneration, executor = executor](const PipeWireScreenStream::Cursor& cursor) {
      asio::post(executor, [weak, forGeneration, cursor] {
        if (auto self = weak.lock()) self->onCursor(cursor, forGeneration);
      });
    };
    callbacks.ended = [weak, forGeneration, executor = executor](const std::string& reason) {
      asio::post(executor, [weak, forGeneration, reason] {
        auto self = weak.lock();
        if (!self || !self->pipewire || forGeneration != self->generation) return;
        self->log("Desktop portal: the pointer's place is no longer known: " + reason);
        self->pipewire.reset();
        self->pointer.reset();
      });
    };
    try {
      pipewire = std::make_unique<PipeWireScreenStream>(
          PipeWireScreenStream::Options{*streamNode, fd.release(), options.streamFramesPerSecond},
          std::move(callbacks));
    } catch (const std::exception& e) {
      log(std::string("Desktop portal: the pointer's place can't be followed (") + e.what() +
          "); the pointer is moved relatively");
    }
  }

  void onCursor(const PipeWireScreenStream::Cursor& cursor, std::uint64_t forGeneration) {
    if (forGeneration != generation || !ready || !streamArea) return;
    if (!cursor.position || cursor.streamWidth <= 0 || streamArea->width <= 0) {
      pointer.reset();
      return;
    }
    streamScale = cursor.streamWidth / streamArea->width;
    pointer = ScreenPoint{streamArea->x + cursor.position->first / streamScale,
                          streamArea->y + cursor.position->second / streamScale};
  }

  // Lets go of the session, closing it if the portal still holds it (which
  // also takes a dialog still on screen away).
  void close() {
    ready = false;
    pointer.reset();
    pipewire.reset();
    endWatches();
    sessionSlots.clear();
    if (!sessionHandle.empty() && !closed && connection->isOpen()) {
      try {
        auto session = connection->proxy(portalName, sessionHandle);
        auto message = session->createMethodCall(sessionInterface, "Close");
        message.dontExpectReply();
        session->callMethod(message);
        connection->wake();
      } catch (const sdbus::Error&) {
        // The portal is gone, and the session with it.
      }
    }
    sessionHandle.clear();
    streamNode.reset();
    streamArea.reset();
    streamScale = 1.0;
    report();
  }

  void endWatches() {
    auto ending = std::move(sessionWatches);
    sessionWatches.clear();
    for (auto& [id, ended] : ending) ended();
  }

  static asio::awaitable<ScreenCastRemote> openScreenCastRemote(std::shared_ptr<State> self,
                                                                std::function<void()> ended) {
    if (!self->ready) {
      // A session that failed is asked for again when input wants one;
      // the preview wants one as much.
      if (!self->refused) {
        self->wanted = true;
        self->changed.notifyAll();
      }
      throw std::runtime_error(self->refused
                                   ? "the user did not allow the desktop portal's remote-control session"
                                   : "the desktop portal's session is not ready (the desktop may still be "
                                     "asking the user)");
    }
    if (!self->streamNode) throw std::runtime_error("the desktop portal's session has no screen-cast stream");
    const std::uint64_t forGeneration = self->generation;
    sdbus::UnixFd fd;
    std::optional<std::string> failure;
    try {
      fd = co_await self->openPipeWireRemote();
    } catch (const DBusError& e) {
      failure = e.message();
    } catch (const sdbus::Error& e) {
      failure = e.getMessage();
    }
    if (failure) throw std::runtime_error("the desktop portal gave no PipeWire connection: " + *failure);
    if (forGeneration != self->generation || !self->ready || !self->streamNode) {
      throw std::runtime_error("the desktop portal's session ended");
    }
    const std::uint64_t id = ++self->watchIds;
    self->sessionWatches.emplace(id, std::move(ended));
    co_return ScreenCastRemote{*self->streamNode, FileDescriptor(fd.release()),
                               std::unique_ptr<SessionWatch>(new SessionWatch(self, id))};
  }

  // Sends an input call for the session without waiting for its answer.
  template <class... Args>
  void send(const char* member, const Vardict& callOptions, const Args&... args) {
    if (!ready) return;
    try {
      auto message = portal->createMethodCall(remoteDesktopInterface, member);
      message << sdbus::ObjectPath(sessionHandle) << callOptions;
      ((message << args), ...);
      message.dontExpectReply();
      portal->callMethod(message);
    } catch (const sdbus::Error& e) {
      if (!sendFailureLogged) {
        log("Desktop portal: " + std::string(member) + " could not be sent: " + e.getMessage());
        sendFailureLogged = true;
      }
    }
    connection->wake();
  }

  static asio::awaitable<void> runLoop(std::shared_ptr<State> self) {
    co_await self->watchOwner();
    for (;;) {
      self->askedAgain = false;
      if (self->owner.empty()) {
        co_await self->activate();
        const auto portalThere = [&] { return !self->owner.empty(); };
        co_await self->pause(portalThere);
        if (!self->connection->isOpen()) break;
        if (self->owner.empty()) continue;
      }
      const std::string servedBy = self->owner;
      bool withStream = self->options.screenCast;
      bool started = false, refused = false, gone = false;
      std::string failure;
      for (;;) {
        bool streamOnly = false;
        try {
          co_await self->open(withStream);
          started = true;
        } catch (const Refused&) {
          refused = true;
        } catch (const PortalGone&) {
          gone = true;
        } catch (const Failure& e) {
          failure = e.reason;
          streamOnly = e.streamOnly && withStream;
        } catch (const DBusError& e) {
          failure = e.message();
        } catch (const sdbus::Error& e) {
          failure = e.getMessage();
        }
        if (!streamOnly) break;
        self->close();
        self->log("Desktop portal: no screen-cast stream (" + failure + "); trying without one");
        withStream = false;
        failure.clear();
      }
      if (started) {
        self->becomeReady();
        co_await self->followPointer();
        const auto ended = [&] { return self->closed || self->owner != servedBy || !self->connection->isOpen(); };
        co_await self->waitUntil(ended);
        if (self->closed) {
          self->log("Desktop portal: the desktop closed the remote-control session; input waits for a new one");
        } else if (self->owner != servedBy) {
          self->log("Desktop portal: the portal left the session bus; input waits for it to come back");
        }
      } else if (refused) {
        self->close();
        self->refused = true;
        self->report();
        self->log("Desktop portal: the user did not allow remote control; input is refused, and the user is not "
                  "asked again until the host starts again or is told to ask (ask-input, or \"Ask again\" in the "
                  "desktop app)");
        const auto askedOrGone = [&] { return self->askedAgain || !self->connection->isOpen(); };
        co_await self->waitUntil(askedOrGone);
        self->refused = false;
        self->report();
        continue;
      } else if (gone) {
        self->log("Desktop portal: the portal left the session bus before the session started; input waits for "
                  "it to come back");
      } else {
        self->log("Desktop portal: no remote-control session (" + failure + ")");
      }
      self->close();
      if (!self->connection->isOpen()) break;
      // Try again when the portal comes back, or when input asks.
      const auto portalChanged = [&] { return self->owner != servedBy; };
      co_await self->pause(portalChanged);
    }
    self->log("Desktop portal: the session bus is gone; input stays off");
  }
};

PortalRemoteDesktop::PortalRemoteDesktop(const asio::any_io_executor& executor,
                                         std::shared_ptr<DBusConnection> connection, Logger& logger,
                                         Options options)
    : state_(std::make_shared<State>(executor, std::move(connection), logger, std::move(options))) {
  state_->run = Task(executor, State::runLoop(state_));
}

PortalRemoteDesktop::~PortalRemoteDesktop() {
  // Whoever listens may be going too.
  state_->options.stateChanged = nullptr;
  state_->run.cancel();
  state_->close();
  state_->ownerSlot.reset();
}

bool PortalRemoteDesktop::isRefused() const { return state_->refused; }

void PortalRemoteDesktop::askAgain() {
  if (state_->refused) state_->log("Desktop portal: asking the desktop again to allow remote control");
  state_->askedAgain = true;
  state_->changed.notifyAll();
}

bool PortalRemoteDesktop::isReady() const { return state_->ready; }
std::uint64_t PortalRemoteDesktop::generation() const { return state_->generation; }

void PortalRemoteDesktop::inputWanted() {
  if (state_->wanted) return;
  state_->wanted = true;
  state_->changed.notifyAll();
}

void PortalRemoteDesktop::pointerMotionRelative(double dx, double dy) {
  state_->send("NotifyPointerMotion", {}, dx, dy);
}

bool PortalRemoteDesktop::pointerMotionAbsolute(ScreenPoint position) {
  State& s = *state_;
  if (!s.ready || !s.streamNode || !s.streamArea) return false;
  // In the stream's logical space: points from its monitor's corner.
  s.send("NotifyPointerMotionAbsolute", {}, *s.streamNode, position.x - s.streamArea->x,
         position.y - s.streamArea->y);
  return true;
}

void PortalRemoteDesktop::pointerButton(std::int32_t button, bool pressed) {
  state_->send("NotifyPointerButton", {}, button, static_cast<std::uint32_t>(pressed ? 1 : 0));
}

void PortalRemoteDesktop::pointerAxis(double dx, double dy, bool finish) {
  Vardict axisOptions;
  if (finish) axisOptions.emplace("finish", sdbus::Variant(true));
  state_->send("NotifyPointerAxis", axisOptions, dx, dy);
}

void PortalRemoteDesktop::keyboardKeycode(std::uint32_t key, bool pressed) {
  state_->send("NotifyKeyboardKeycode", {}, static_cast<std::int32_t>(key), static_cast<std::uint32_t>(pressed ? 1 : 0));
}

void PortalRemoteDesktop::keyboardKeysym(std::uint32_t keysym, bool pressed) {
  state_->send("NotifyKeyboardKeysym", {}, static_cast<std::int32_t>(keysym),
               static_cast<std::uint32_t>(pressed ? 1 : 0));
}

std::optional<ScreenPoint> PortalRemoteDesktop::pointerPosition() const {
  return state_->ready ? state_->pointer : std::nullopt;
}

std::optional<std::vector<ScreenRect>> PortalRemoteDesktop::monitors() const {
  if (state_->streamArea) return std::vector<ScreenRect>{*state_->streamArea};
  return std::nullopt;
}

std::optional<double> PortalRemoteDesktop::refreshRate() const { return std::nullopt; }

PortalRemoteDesktop::SessionWatch::SessionWatch(std::weak_ptr<State> session, std::uint64_t id)
    : session_(std::move(session)), id_(id) {}

PortalRemoteDesktop::SessionWatch::~SessionWatch() {
  if (auto session = session_.lock()) session->sessionWatches.erase(id_);
}

asio::awaitable<PortalRemoteDesktop::ScreenCastRemote> PortalRemoteDesktop::openScreenCastRemote(
    const std::function<void()>& ended) {
  return State::openScreenCastRemote(state_, ended);
}

}  // namespace glidemate::host
