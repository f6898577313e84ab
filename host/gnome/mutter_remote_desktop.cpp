#include "host/gnome/mutter_remote_desktop.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <string>
#include <vector>

#include "host/gnome/mutter_display_config.hpp"
#include "host/pipewire/pipewire_screen_stream.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/dbus/name_owner.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {
namespace {

constexpr const char* logCategory = "gnome";

// Names live in strings of their own: awaited calls take them by
// reference, and no temporary may be made for them in a co_await.
const std::string remoteDesktopName = "org.gnome.Mutter.RemoteDesktop";
const std::string remoteDesktopPath = "/org/gnome/Mutter/RemoteDesktop";
const std::string remoteDesktopInterface = "org.gnome.Mutter.RemoteDesktop";
const std::string sessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
const std::string sessionIdProperty = "SessionId";
const std::string screenCastName = "org.gnome.Mutter.ScreenCast";
const std::string screenCastPath = "/org/gnome/Mutter/ScreenCast";
const std::string screenCastInterface = "org.gnome.Mutter.ScreenCast";
const std::string screenCastSessionInterface = "org.gnome.Mutter.ScreenCast.Session";
const std::string streamInterface = "org.gnome.Mutter.ScreenCast.Stream";
const std::string parametersProperty = "Parameters";

// The stream carries the cursor as metadata, not drawn into its frames.
constexpr std::uint32_t cursorModeMetadata = 2;
// NotifyPointerAxis flags.
constexpr std::uint32_t axisFinish = 1;
constexpr std::uint32_t axisSourceFinger = 4;
// The harmless key that makes mutter create its virtual keyboard.
constexpr std::uint32_t keyLeftShift = 42;

std::string signalRule(const std::string& sender, const std::string& path, const std::string& interface,
                       const std::string& member) {
  return "type='signal',sender='" + sender + "',path='" + path + "',interface='" + interface + "',member='" +
         member + "'";
}

// A failure while linking the screen-cast stream; the session is then
// tried again without one.
struct StreamFailure {
  DBusError error;
};

}  // namespace

struct MutterRemoteDesktop::State : std::enable_shared_from_this<State> {
  State(const asio::any_io_executor& e, std::shared_ptr<DBusConnection> c, Logger& l, Options o)
      : executor(e), connection(std::move(c)), logger(l), options(o), changed(e), displays(e, connection) {}

  asio::any_io_executor executor;
  std::shared_ptr<DBusConnection> connection;
  Logger& logger;
  Options options;
  Notifier changed;
  Task run;
  MutterDisplayConfig displays;

  // The unique name of mutter's connection; empty while it is not on the bus.
  std::string owner;
  sdbus::Slot ownerSlot;

  std::unique_ptr<sdbus::IProxy> session;
  std::unique_ptr<sdbus::IProxy> screenCastSession;
  std::string streamPath;
  std::vector<sdbus::Slot> sessionSlots;
  std::unique_ptr<PipeWireScreenStream> pipewire;
  bool ready = false;
  bool closed = false;
  std::uint64_t generation = 0;
  // The stream's monitor in the desktop's layout, and its pixels per point.
  std::optional<ScreenRect> streamArea;
  double streamScale = 1.0;
  std::optional<ScreenPoint> pointer;
  bool wanted = false;
  bool sendFailureLogged = false;
  SessionObserver observer;

  void log(const std::string& message) { logger.log(logCategory, message); }

  asio::awaitable<void> watchOwner() {
    std::weak_ptr<State> weak = weak_from_this();
    ownerSlot = watchNameOwner(*connection, remoteDesktopName, [weak](const std::string& newOwner) {
      auto self = weak.lock();
      if (!self) return;
      self->owner = newOwner;
      self->changed.notifyAll();
    });
    // Not on the bus yet: the signal says when it comes.
    const std::string current = co_await nameOwner(*connection, remoteDesktopName, options.callTimeout);
    if (owner.empty()) owner = current;
  }

  asio::awaitable<sdbus::MethodReply> call(sdbus::IProxy& proxy, sdbus::MethodCall message) {
    co_return co_await connection->call(proxy, std::move(message), options.callTimeout);
  }

  asio::awaitable<void> linkStream() {
    const auto id = co_await connection->getProperty(*session, sessionInterface, sessionIdProperty, options.callTimeout);
    auto screenCast = connection->proxy(screenCastName, screenCastPath);
    auto create = screenCast->createMethodCall(screenCastInterface, "CreateSession");
    const std::map<std::string, sdbus::Variant> properties{{"remote-desktop-session-id", id}};
    create << properties;
    auto created = co_await call(*screenCast, std::move(create));
    sdbus::ObjectPath screenCastSessionPath;
    created >> screenCastSessionPath;
    screenCastSession = connection->proxy(screenCastName, screenCastSessionPath);

    auto record = screenCastSession->createMethodCall(screenCastSessionInterface, "RecordMonitor");
    const std::map<std::string, sdbus::Variant> recordProperties{{"cursor-mode", sdbus::Variant(cursorModeMetadata)}};
    record << std::string() << recordProperties;
    auto recorded = co_await call(*screenCastSession, std::move(record));
    sdbus::ObjectPath path;
    recorded >> path;
    streamPath = path;

    std::weak_ptr<State> weak = weak_from_this();
    const std::uint64_t next = generation + 1;
    sessionSlots.push_back(connection->raw().addMatch(
        signalRule(screenCastName, streamPath, streamInterface, "PipeWireStreamAdded"),
        [weak, next](sdbus::Message& message) {
          auto self = weak.lock();
          if (!self) return;
          std::uint32_t node = 0;
          message >> node;
          self->followPointer(node, next);
        }));
  }

  asio::awaitable<void> readStreamArea() {
    auto stream = connection->proxy(screenCastName, streamPath);
    try {
      const auto value = co_await connection->getProperty(*stream, streamInterface, parametersProperty, options.callTimeout);
      const auto parameters = value.get<std::map<std::string, sdbus::Variant>>();
      const auto position = parameters.at("position").get<sdbus::Struct<std::int32_t, std::int32_t>>();
      const auto size = parameters.at("size").get<sdbus::Struct<std::int32_t, std::int32_t>>();
      streamArea = ScreenRect{static_cast<double>(std::get<0>(position)), static_cast<double>(std::get<1>(position)),
                              static_cast<double>(std::get<0>(size)), static_cast<double>(std::get<1>(size))};
    } catch (const std::exception& e) {
      log(std::string("The screen-cast stream does not say where its monitor is (") + e.what() +
          "); the pointer is moved relatively");
    }
  }

  // Creates, links and starts a session. Throws DBusError, or StreamFailure
  // when only the stream failed.
  asio::awaitable<void> open(bool withStream) {
    auto remoteDesktop = connection->proxy(remoteDesktopName, remoteDesktopPath);
    auto create = remoteDesktop->createMethodCall(remoteDesktopInterface, "CreateSession");
    auto created = co_await call(*remoteDesktop, std::move(create));
    sdbus::ObjectPath path;
    created >> path;
    session = connection->proxy(remoteDesktopName, path);
    closed = false;
    std::weak_ptr<State> weak = weak_from_this();
    sessionSlots.push_back(connection->raw().addMatch(signalRule(remoteDesktopName, path, sessionInterface, "Closed"),
                                                      [weak](sdbus::Message&) {
                                                        auto self = weak.lock();
                                                        if (!self) return;
                                                        self->closed = true;
                                                        self->changed.notifyAll();
                                                      }));
    if (withStream) {
      std::optional<DBusError> failure;
      try {
        co_await linkStream();
      } catch (const DBusError& e) {
        failure = e;
      }
      if (failure) throw StreamFailure{*failure};
    }
    auto start = session->createMethodCall(sessionInterface, "Start");
    std::optional<DBusError> startFailure;
    try {
      co_await call(*session, std::move(start));
    } catch (const DBusError& e) {
      startFailure = e;
    }
    // A linked stream that can't start (no PipeWire) fails the start.
    if (startFailure && withStream) throw StreamFailure{*startFailure};
    if (startFailure) throw *startFailure;
    if (withStream) co_await readStreamArea();
    co_await displays.refresh();
  }

  void becomeReady() {
    ready = true;
    ++generation;
    wanted = false;
    sendFailureLogged = false;
    // mutter makes its virtual devices on the first events, which a client
    // may miss: let those be ones nobody misses.
    send("NotifyKeyboardKeycode", keyLeftShift, true);
    send("NotifyKeyboardKeycode", keyLeftShift, false);
    send("NotifyPointerMotionRelative", 0.0, 0.0);
    log(std::string("GNOME remote desktop: session ready") +
        (streamPath.empty() ? ", without a screen-cast stream" : ""));
    if (observer) observer(session->getObjectPath());
  }

  // Reads the stream for the pointer's place. The signal that calls this
  // lives only as long as its session.
  void followPointer(std::uint32_t node, std::uint64_t forGeneration) {
    std::weak_ptr<State> weak = weak_from_this();
    PipeWireScreenStream::Callbacks callbacks;
    callbacks.cursor = [weak, forGeneration, executor = executor](const PipeWireScreenStream::Cursor& cursor) {
      asio::post(executor, [weak, forGeneration, cursor] {
        if (auto self = weak.lock()) self->onCursor(cursor, forGeneration);
      });
    };
    callbacks.ended = [weak, executor = executor](const std::string& reason) {
      asio::post(executor, [weak, reason] {
        auto self = weak.lock();
        if (!self || !self->pipewire) return;
        self->log("The pointer's place is no longer known: " + reason);
        self->pipewire.reset();
        self->pointer.reset();
      });
    };
    try {
      pipewire = std::make_unique<PipeWireScreenStream>(
          PipeWireScreenStream::Options{node, -1, options.cursorFramesPerSecond}, std::move(callbacks));
    } catch (const std::exception& e) {
      log(std::string("The pointer's place can't be followed (") + e.what() + "); the pointer is moved relatively");
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

  // Lets go of the session, stopping it if mutter still holds it.
  void close() {
    const bool wasReady = ready;
    ready = false;
    pointer.reset();
    pipewire.reset();
    sessionSlots.clear();
    if (session && !closed && wasReady && connection->isOpen()) deliver("Stop", true);
    session.reset();
    if (wasReady && observer) observer(std::string());
    screenCastSession.reset();
    streamPath.clear();
    streamArea.reset();
    streamScale = 1.0;
  }

  // Sends a call to the session without waiting for its answer.
  template <class... Args>
  void send(const char* member, const Args&... args) {
    deliver(member, false, args...);
  }

  template <class... Args>
  void deliver(const char* member, bool evenIfNotReady, const Args&... args) {
    if ((!ready && !evenIfNotReady) || !session) return;
    try {
      auto message = session->createMethodCall(sessionInterface, member);
      ((message << args), ...);
      message.dontExpectReply();
      session->callMethod(message);
    } catch (const sdbus::Error& e) {
      if (!sendFailureLogged) {
        log("GNOME remote desktop: " + std::string(member) + " could not be sent: " + e.getMessage());
        sendFailureLogged = true;
      }
    }
    connection->wake();
  }

  asio::awaitable<void> waitUntil(auto condition) {
    while (!condition()) co_await changed.wait();
  }

  static asio::awaitable<void> runLoop(std::shared_ptr<State> self) {
    co_await self->watchOwner();
    for (;;) {
      co_await self->waitUntil([&] { return !self->owner.empty() || !self->connection->isOpen(); });
      if (!self->connection->isOpen()) break;
      const std::string servedBy = self->owner;
      bool withStream = self->options.screenCast;
      bool started = false;
      for (;;) {
        std::string failure;
        bool streamOnly = false;
        try {
          co_await self->open(withStream);
          started = true;
        } catch (const StreamFailure& e) {
          failure = e.error.message();
          streamOnly = true;
        } catch (const DBusError& e) {
          failure = e.message();
        }
        if (started) break;
        self->close();
        if (streamOnly) {
          self->log("GNOME remote desktop: no screen-cast stream (" + failure + "); trying without one");
          withStream = false;
          continue;
        }
        self->log("GNOME remote desktop: no session (" + failure + ")");
        break;
      }
      if (started) {
        self->becomeReady();
        co_await self->waitUntil([&] {
          return self->closed || self->owner != servedBy || !self->connection->isOpen();
        });
        if (self->closed) {
          self->log("GNOME remote desktop: the desktop closed the session; input waits for a new one");
        } else if (self->owner != servedBy) {
          self->log("GNOME remote desktop: mutter left the session bus; input waits for it to come back");
        }
        self->close();
      }
      if (!self->connection->isOpen()) break;
      // Try again when mutter comes back, or when input asks and a pause
      // has passed, so that a desktop refusing sessions is not hammered.
      self->wanted = false;
      bool due = false;
      asio::steady_timer pause(self->executor, self->options.retryInterval);
      pause.async_wait([weak = std::weak_ptr<State>(self), &due](const asio::error_code& error) {
        if (error) return;
        due = true;
        if (auto s = weak.lock()) s->changed.notifyAll();
      });
      co_await self->waitUntil([&] {
        return self->owner != servedBy || (due && self->wanted) || !self->connection->isOpen();
      });
    }
    self->log("GNOME remote desktop: the session bus is gone; input stays off");
  }
};

MutterRemoteDesktop::MutterRemoteDesktop(const asio::any_io_executor& executor,
                                         std::shared_ptr<DBusConnection> connection, Logger& logger,
                                         Options options)
    : state_(std::make_shared<State>(executor, std::move(connection), logger, options)) {
  state_->run = Task(executor, State::runLoop(state_));
}

MutterRemoteDesktop::~MutterRemoteDesktop() {
  state_->observer = nullptr;
  state_->run.cancel();
  state_->close();
  state_->ownerSlot.reset();
}

bool MutterRemoteDesktop::isReady() const { return state_->ready; }
std::uint64_t MutterRemoteDesktop::generation() const { return state_->generation; }

void MutterRemoteDesktop::inputWanted() {
  if (state_->wanted) return;
  state_->wanted = true;
  state_->changed.notifyAll();
}

void MutterRemoteDesktop::pointerMotionRelative(double dx, double dy) {
  state_->send("NotifyPointerMotionRelative", dx, dy);
}

bool MutterRemoteDesktop::pointerMotionAbsolute(ScreenPoint position) {
  State& s = *state_;
  if (!s.ready || s.streamPath.empty() || !s.streamArea) return false;
  s.send("NotifyPointerMotionAbsolute", s.streamPath, (position.x - s.streamArea->x) * s.streamScale,
         (position.y - s.streamArea->y) * s.streamScale);
  return true;
}

void MutterRemoteDesktop::pointerButton(std::int32_t button, bool pressed) {
  state_->send("NotifyPointerButton", button, pressed);
}

void MutterRemoteDesktop::pointerAxis(double dx, double dy, bool finish) {
  state_->send("NotifyPointerAxis", dx, dy, axisSourceFinger | (finish ? axisFinish : 0u));
}

void MutterRemoteDesktop::keyboardKeycode(std::uint32_t key, bool pressed) {
  state_->send("NotifyKeyboardKeycode", key, pressed);
}

void MutterRemoteDesktop::keyboardKeysym(std::uint32_t keysym, bool pressed) {
  state_->send("NotifyKeyboardKeysym", keysym, pressed);
}

std::optional<ScreenPoint> MutterRemoteDesktop::pointerPosition() const {
  return state_->ready ? state_->pointer : std::nullopt;
}

std::optional<std::vector<ScreenRect>> MutterRemoteDesktop::monitors() const {
  if (auto known = state_->displays.monitors()) return known;
  if (state_->streamArea) return std::vector<ScreenRect>{*state_->streamArea};
  return std::nullopt;
}

std::optional<double> MutterRemoteDesktop::refreshRate() const { return state_->displays.refreshRate(); }

void MutterRemoteDesktop::setSessionObserver(SessionObserver observer) {
  state_->observer = std::move(observer);
  if (state_->observer && state_->ready && state_->session) state_->observer(state_->session->getObjectPath());
}

const std::shared_ptr<DBusConnection>& MutterRemoteDesktop::connection() const { return state_->connection; }

}  // namespace glidemate::host
