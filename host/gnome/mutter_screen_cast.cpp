#include "host/gnome/mutter_screen_cast.hpp"

#include <asio/steady_timer.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kit/dbus/dbus_connection.hpp"
#include "kit/dbus/name_owner.hpp"
#include "kit/runtime/notifier.hpp"

namespace glidemate::host {
namespace {

const std::string screenCastName = "org.gnome.Mutter.ScreenCast";
const std::string screenCastPath = "/org/gnome/Mutter/ScreenCast";
const std::string screenCastInterface = "org.gnome.Mutter.ScreenCast";
const std::string sessionInterface = "org.gnome.Mutter.ScreenCast.Session";
const std::string streamInterface = "org.gnome.Mutter.ScreenCast.Stream";

// The stream carries the cursor as metadata, not drawn into its frames.
constexpr std::uint32_t cursorModeMetadata = 2;

std::string signalRule(const std::string& path, const std::string& interface, const std::string& member) {
  return "type='signal',sender='" + screenCastName + "',path='" + path + "',interface='" + interface +
         "',member='" + member + "'";
}

}  // namespace

struct MutterScreenCast::State : std::enable_shared_from_this<State> {
  State(const asio::any_io_executor& e, std::shared_ptr<DBusConnection> c, Options o)
      : executor(e), connection(std::move(c)), options(o), changed(e) {}

  asio::any_io_executor executor;
  std::shared_ptr<DBusConnection> connection;
  Options options;
  Notifier changed;
  std::unique_ptr<sdbus::IProxy> session;
  std::vector<sdbus::Slot> slots;
  std::optional<std::uint32_t> node;
  bool started = false;
  bool ended = false;
  std::function<void()> onEnded;

  void end() {
    if (ended) return;
    ended = true;
    changed.notifyAll();
    if (started && onEnded) {
      auto call = std::move(onEnded);
      call();
    }
  }

  void watch(const std::string& rule, std::function<void(sdbus::Message&)> handler) {
    slots.push_back(connection->raw().addMatch(rule, std::move(handler)));
  }
};

MutterScreenCast::MutterScreenCast(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> connection,
                                   Options options)
    : state_(std::make_shared<State>(executor, std::move(connection), options)) {}

MutterScreenCast::~MutterScreenCast() {
  State& s = *state_;
  s.slots.clear();
  s.onEnded = nullptr;
  if (s.session && !s.ended && s.connection->isOpen()) {
    try {
      auto stop = s.session->createMethodCall(sessionInterface, "Stop");
      stop.dontExpectReply();
      s.session->callMethod(stop);
      s.connection->wake();
    } catch (const sdbus::Error&) {
      // mutter is gone: so is the cast.
    }
  }
}

void MutterScreenCast::onEnded(std::function<void()> ended) { state_->onEnded = std::move(ended); }

asio::awaitable<std::uint32_t> MutterScreenCast::start() {
  const auto self = state_;
  std::weak_ptr<State> weak = self;
  const auto whenGone = [weak](sdbus::Message&) {
    if (auto s = weak.lock()) s->end();
  };
  // Any change of owner is mutter leaving (or restarting without the cast).
  self->slots.push_back(watchNameOwner(*self->connection, screenCastName, [weak](const std::string&) {
    if (auto s = weak.lock()) s->end();
  }));

  auto screenCast = self->connection->proxy(screenCastName, screenCastPath);
  auto create = screenCast->createMethodCall(screenCastInterface, "CreateSession");
  create << std::map<std::string, sdbus::Variant>{};
  auto created = co_await self->connection->call(*screenCast, std::move(create), self->options.callTimeout);
  sdbus::ObjectPath sessionPath;
  created >> sessionPath;
  self->session = self->connection->proxy(screenCastName, sessionPath);
  self->watch(signalRule(sessionPath, sessionInterface, "Closed"), whenGone);

  auto record = self->session->createMethodCall(sessionInterface, "RecordMonitor");
  record << std::string() << std::map<std::string, sdbus::Variant>{{"cursor-mode", sdbus::Variant(cursorModeMetadata)}};
  auto recorded = co_await self->connection->call(*self->session, std::move(record), self->options.callTimeout);
  sdbus::ObjectPath streamPath;
  recorded >> streamPath;
  self->watch(signalRule(streamPath, streamInterface, "PipeWireStreamAdded"), [weak](sdbus::Message& message) {
    auto s = weak.lock();
    if (!s) return;
    std::uint32_t node = 0;
    try {
      message >> node;
    } catch (const sdbus::Error&) {
      return;
    }
    s->node = node;
    s->changed.notifyAll();
  });

  auto begin = self->session->createMethodCall(sessionInterface, "Start");
  co_await self->connection->call(*self->session, std::move(begin), self->options.callTimeout);

  // Shared with the timer's handler, which may run after this returns.
  const auto late = std::make_shared<bool>(false);
  asio::steady_timer deadline(self->executor, self->options.callTimeout);
  deadline.async_wait([weak, late](const asio::error_code& error) {
    if (error) return;
    *late = true;
    if (auto s = weak.lock()) s->changed.notifyAll();
  });
  while (!self->node && !self->ended && !*late) co_await self->changed.wait();
  deadline.cancel();
  if (self->ended) throw DBusError(DBusError::disconnected, "mutter ended the screen cast as it started");
  if (!self->node) throw DBusError(DBusError::noReply, "mutter did not publish the screen-cast stream in time");
  self->started = true;
  co_return *self->node;
}

}  // namespace glidemate::host
