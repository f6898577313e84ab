#include "host/gnome/mutter_clipboard.hpp"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "host/gnome/descriptor_transfer.hpp"
#include "host/gnome/mutter_remote_desktop.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/runtime/task_set.hpp"
#include "kit/wire/utf8.hpp"

namespace glidemate::host {
namespace {

constexpr const char* logCategory = "clipboard";

const std::string remoteDesktopName = "org.gnome.Mutter.RemoteDesktop";
const std::string sessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
const std::string mimeTypesKey = "mime-types";
const std::string isOwnerKey = "session-is-owner";

// What the phone's text is offered as, and what is read from another owner,
// best first. All of them carry UTF-8.
const std::vector<std::string> textTypes = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"};

std::string signalRule(const std::string& path, const std::string& member) {
  return "type='signal',sender='" + remoteDesktopName + "',path='" + path + "',interface='" + sessionInterface +
         "',member='" + member + "'";
}

// mutter 43 wraps the list in a structure; a bare list is taken as well.
std::vector<std::string> mimeTypesIn(const std::map<std::string, sdbus::Variant>& options) {
  const auto found = options.find(mimeTypesKey);
  if (found == options.end()) return {};
  const sdbus::Variant& value = found->second;
  try {
    if (value.containsValueOfType<std::vector<std::string>>()) return value.get<std::vector<std::string>>();
    if (value.containsValueOfType<sdbus::Struct<std::vector<std::string>>>()) {
      return std::get<0>(value.get<sdbus::Struct<std::vector<std::string>>>());
    }
  } catch (const sdbus::Error&) {
  }
  return {};
}

}  // namespace

struct MutterClipboard::State : std::enable_shared_from_this<State> {
  enum class Enabling { noSession, underway, enabled, refused };

  State(const asio::any_io_executor& e, std::shared_ptr<DBusConnection> c, Logger& l, Options o)
      : executor(e), connection(std::move(c)), logger(l), options(o), changed(e), tasks(e) {}

  asio::any_io_executor executor;
  std::shared_ptr<DBusConnection> connection;
  Logger& logger;
  Options options;
  Notifier changed;
  TaskSet tasks;

  // The session the clipboard is enabled on, and a count of sessions so
  // that work for an older one can tell it is stale.
  std::shared_ptr<sdbus::IProxy> session;
  std::uint64_t sessionNumber = 0;
  std::vector<sdbus::Slot> slots;
  Enabling enabling = Enabling::noSession;

  // The text our session offers while it owns the clipboard.
  std::optional<std::string> owned;
  // Our SetSelection calls whose ownership notice has not come yet: a
  // notice of another owner that arrives meanwhile is older than our text.
  int ownNoticesDue = 0;
  // What the clipboard's owner offers, as mutter last said.
  std::vector<std::string> offered;
  // mutter serves one read of a session at a time.
  bool reading = false;

  void log(const std::string& message) { logger.log(logCategory, message); }

  void onSession(const std::string& path) {
    slots.clear();
    session.reset();
    owned.reset();
    offered.clear();
    ownNoticesDue = 0;
    ++sessionNumber;
    enabling = path.empty() ? Enabling::noSession : Enabling::underway;
    changed.notifyAll();
    if (path.empty()) return;

    session = connection->proxy(remoteDesktopName, path);
    std::weak_ptr<State> weak = weak_from_this();
    const std::uint64_t number = sessionNumber;
    slots.push_back(connection->raw().addMatch(signalRule(path, "SelectionOwnerChanged"), [weak](sdbus::Message& m) {
      if (auto self = weak.lock()) self->onOwnerChanged(m);
    }));
    slots.push_back(connection->raw().addMatch(signalRule(path, "SelectionTransfer"), [weak, number](sdbus::Message& m) {
      auto self = weak.lock();
      if (!self) return;
      std::string mimeType;
      std::uint32_t serial = 0;
      try {
        m >> mimeType >> serial;
      } catch (const sdbus::Error&) {
        return;  // not the signal mutter 43 sends
      }
      self->tasks.spawn(transfer(self, mimeType, serial, number));
    }));
    tasks.spawn(enable(shared_from_this(), number));
  }

  void onOwnerChanged(sdbus::Message& message) {
    std::map<std::string, sdbus::Variant> notice;
    try {
      message >> notice;
    } catch (const sdbus::Error&) {
      return;
    }
    const auto isOwner = notice.find(isOwnerKey);
    const bool ours = isOwner != notice.end() && isOwner->second.containsValueOfType<bool>() && isOwner->second.get<bool>();
    offered = mimeTypesIn(notice);
    if (ours) {
      if (ownNoticesDue > 0) --ownNoticesDue;
      return;
    }
    if (ownNoticesDue == 0) owned.reset();
  }

  static asio::awaitable<void> enable(std::shared_ptr<State> self, std::uint64_t number) {
    const auto session = self->session;
    auto call = session->createMethodCall(sessionInterface, "EnableClipboard");
    call << std::map<std::string, sdbus::Variant>{};
    std::string failure;
    try {
      co_await self->connection->call(*session, std::move(call), self->options.callTimeout);
    } catch (const DBusError& e) {
      failure = e.message();
    }
    if (number != self->sessionNumber) co_return;
    self->enabling = failure.empty() ? Enabling::enabled : Enabling::refused;
    if (!failure.empty()) self->log("GNOME's remote desktop would not share its clipboard: " + failure);
    self->changed.notifyAll();
  }

  // Whether the clipboard can be used now, once an enabling under way has
  // ended.
  static asio::awaitable<bool> ready(std::shared_ptr<State> self) {
    while (self->enabling == Enabling::underway) co_await self->changed.wait();
    co_return self->enabling == Enabling::enabled;
  }

  // Hands our text to a reader mutter speaks for; any other request is
  // turned down.
  static asio::awaitable<void> transfer(std::shared_ptr<State> self, std::string mimeType, std::uint32_t serial,
                                        std::uint64_t number) {
    if (number != self->sessionNumber || !self->session) co_return;
    const auto session = self->session;
    const bool offers = std::find(textTypes.begin(), textTypes.end(), mimeType) != textTypes.end();
    bool written = false;
    if (self->owned && offers) {
      // What is sent is the text of this moment, whatever is set meanwhile.
      std::string text = *self->owned;
      auto ask = session->createMethodCall(sessionInterface, "SelectionWrite");
      ask << serial;
      try {
        auto reply = co_await self->connection->call(*session, std::move(ask), self->options.callTimeout);
        sdbus::UnixFd fd;
        reply >> fd;
        written = co_await writeToDescriptor(self->executor, fd.release(), std::move(text),
                                             self->options.transferTimeout);
      } catch (const DBusError&) {
        // A reader that went first leaves a serial mutter no longer knows.
      }
    }
    auto done = session->createMethodCall(sessionInterface, "SelectionWriteDone");
    done << serial << written;
    try {
      co_await self->connection->call(*session, std::move(done), self->options.callTimeout);
    } catch (const DBusError&) {
    }
  }

  // Ends a read however it ends, letting the next one start.
  struct ReadTurn {
    State& state;
    ~ReadTurn() {
      state.reading = false;
      state.changed.notifyAll();
    }
  };
};

MutterClipboard::MutterClipboard(const asio::any_io_executor& executor, MutterRemoteDesktop& remoteDesktop,
                                 Logger& logger, Options options)
    : state_(std::make_shared<State>(executor, remoteDesktop.connection(), logger, options)),
      remoteDesktop_(remoteDesktop) {
  std::weak_ptr<State> weak = state_;
  remoteDesktop_.setSessionObserver([weak](const std::string& path) {
    if (auto self = weak.lock()) self->onSession(path);
  });
}

MutterClipboard::~MutterClipboard() {
  remoteDesktop_.setSessionObserver(nullptr);
  state_->slots.clear();
  state_->tasks.cancelAll();
}

asio::awaitable<void> MutterClipboard::setText(std::string text) {
  const auto self = state_;
  if (!co_await State::ready(self)) throw Failure("GNOME's remote desktop has no session to share a clipboard with");
  const auto session = self->session;
  const std::uint64_t number = self->sessionNumber;
  std::string valid = validUtf8(text);
  // Readers may come as soon as mutter takes the offer, before it answers.
  self->owned = valid;
  ++self->ownNoticesDue;
  auto offer = session->createMethodCall(sessionInterface, "SetSelection");
  offer << std::map<std::string, sdbus::Variant>{{mimeTypesKey, sdbus::Variant(textTypes)}};
  std::optional<DBusError> failure;
  try {
    co_await self->connection->call(*session, std::move(offer), self->options.callTimeout);
  } catch (const DBusError& e) {
    failure = e;
  }
  if (!failure) co_return;
  if (number == self->sessionNumber) {
    if (self->ownNoticesDue > 0) --self->ownNoticesDue;
    if (self->owned == valid) self->owned.reset();
  }
  throw Failure(failure->message());
}

asio::awaitable<std::optional<std::string>> MutterClipboard::text() {
  const auto self = state_;
  while (self->reading) co_await self->changed.wait();
  self->reading = true;
  const State::ReadTurn turn{*self};
  if (!co_await State::ready(self)) co_return std::nullopt;
  if (self->owned) co_return self->owned;
  const auto type = std::find_first_of(textTypes.begin(), textTypes.end(), self->offered.begin(), self->offered.end());
  if (type == textTypes.end()) co_return std::nullopt;

  const auto session = self->session;
  auto ask = session->createMethodCall(sessionInterface, "SelectionRead");
  ask << *type;
  int fd = -1;
  try {
    auto reply = co_await self->connection->call(*session, std::move(ask), self->options.callTimeout);
    sdbus::UnixFd descriptor;
    reply >> descriptor;
    fd = descriptor.release();
  } catch (const DBusError& e) {
    self->log("The clipboard could not be read: " + e.message());
    co_return std::nullopt;
  }
  const auto bytes = co_await readFromDescriptor(self->executor, fd, self->options.maxReadBytes,
                                                 self->options.transferTimeout);
  if (!bytes) co_return std::nullopt;
  co_return validUtf8(*bytes);
}

}  // namespace glidemate::host
