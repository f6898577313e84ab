#include "kit/dbus/dbus_connection.hpp"

#include <poll.h>
#include <unistd.h>

#include <asio/post.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>

#include "kit/runtime/notifier.hpp"

namespace glidemate {

namespace {

DBusError fromSdbus(const sdbus::Error& e) { return DBusError(e.getName(), e.getMessage()); }

DBusError lostError() {
  return DBusError(DBusError::disconnected, "The connection to the D-Bus bus was lost.");
}

}  // namespace

// One awaited method call: completed by its reply, its error, its deadline
// or the end of the connection, whichever comes first.
struct DBusConnection::PendingCall {
  explicit PendingCall(const asio::any_io_executor& executor) : changed(executor), deadline(executor) {}

  void complete(std::optional<sdbus::MethodReply> r, std::optional<DBusError> e) {
    if (done) return;
    done = true;
    reply = std::move(r);
    error = std::move(e);
    deadline.cancel();
    changed.notifyAll();
  }

  Notifier changed;
  asio::steady_timer deadline;
  sdbus::PendingAsyncCall handle;
  std::optional<sdbus::MethodReply> reply;
  std::optional<DBusError> error;
  bool done = false;
};

// Waits for the bus descriptor and sd-bus's next time-out on the executor
// and lets sd-bus process whatever is due.
struct DBusConnection::Driver {
  Driver(const asio::any_io_executor& e, int fd)
      : executor(e), descriptor(e, ::dup(fd)), timer(e), closedChanged(e) {}

  asio::any_io_executor executor;
  asio::posix::stream_descriptor descriptor;
  asio::steady_timer timer;
  Notifier closedChanged;
  std::set<std::shared_ptr<PendingCall>> pending;
  bool open = true;
  bool reading = false;
  bool writing = false;
  bool pumpPosted = false;
};

std::shared_ptr<DBusConnection> DBusConnection::open(const asio::any_io_executor& executor, Bus bus) {
  std::unique_ptr<sdbus::IConnection> connection;
  try {
    connection = bus == Bus::session ? sdbus::createSessionBusConnection() : sdbus::createSystemBusConnection();
  } catch (const sdbus::Error& e) {
    throw DBusError(e.getName(), std::string(bus == Bus::session ? "No D-Bus session bus: " : "No D-Bus system bus: ") +
                                     e.getMessage());
  }
  auto self = std::shared_ptr<DBusConnection>(new DBusConnection(executor, std::move(connection)));
  self->wake();
  return self;
}

std::shared_ptr<DBusConnection> DBusConnection::openAddress(const asio::any_io_executor& executor,
                                                            const std::string& address) {
  std::unique_ptr<sdbus::IConnection> connection;
  try {
    connection = sdbus::createSessionBusConnectionWithAddress(address);
  } catch (const sdbus::Error& e) {
    throw DBusError(e.getName(), "No D-Bus bus at " + address + ": " + e.getMessage());
  }
  auto self = std::shared_ptr<DBusConnection>(new DBusConnection(executor, std::move(connection)));
  self->wake();
  return self;
}

DBusConnection::DBusConnection(const asio::any_io_executor& executor, std::unique_ptr<sdbus::IConnection> connection)
    : connection_(std::move(connection)),
      driver_(std::make_unique<Driver>(executor, connection_->getEventLoopPollData().fd)) {}

DBusConnection::~DBusConnection() {
  // Waiters hold the connection, so none is left; the driver's handlers
  // hold it weakly and find it gone.
  driver_->open = false;
}

std::unique_ptr<sdbus::IProxy> DBusConnection::proxy(std::string destination, std::string objectPath) {
  // A proxy's signal handlers add their matches synchronously too.
  return sdbus::createProxy(raw(), std::move(destination), std::move(objectPath));
}

bool DBusConnection::isOpen() const { return driver_->open; }

void DBusConnection::wake() {
  Driver& d = *driver_;
  if (!d.open || d.pumpPosted) return;
  d.pumpPosted = true;
  asio::post(d.executor, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->pump();
  });
}

void DBusConnection::pump() {
  // A callback may drop the last reference its owner held.
  auto self = shared_from_this();
  Driver& d = *driver_;
  d.pumpPosted = false;
  if (!d.open) return;
  sdbus::IConnection::PollData poll{};
  try {
    while (connection_->processPendingRequest()) {
      if (!d.open) return;
    }
    poll = connection_->getEventLoopPollData();
  } catch (const sdbus::Error&) {
    shutDown(lostError());
    return;
  }
  std::weak_ptr<DBusConnection> weak = self;
  if ((poll.events & POLLIN) != 0 && !d.reading) {
    d.reading = true;
    d.descriptor.async_wait(asio::posix::stream_descriptor::wait_read, [weak](const asio::error_code& error) {
      auto s = weak.lock();
      if (!s) return;
      s->driver_->reading = false;
      if (!error) s->pump();
    });
  }
  if ((poll.events & POLLOUT) != 0 && !d.writing) {
    d.writing = true;
    d.descriptor.async_wait(asio::posix::stream_descriptor::wait_write, [weak](const asio::error_code& error) {
      auto s = weak.lock();
      if (!s) return;
      s->driver_->writing = false;
      if (!error) s->pump();
    });
  }
  if (poll.timeout_usec == std::numeric_limits<std::uint64_t>::max()) {
    d.timer.cancel();
  } else {
    // sd-bus counts on CLOCK_MONOTONIC, which is what steady_clock reads.
    d.timer.expires_at(asio::steady_timer::time_point(std::chrono::microseconds(poll.timeout_usec)));
    d.timer.async_wait([weak](const asio::error_code& error) {
      if (error) return;
      if (auto s = weak.lock()) s->pump();
    });
  }
}

void DBusConnection::shutDown(const DBusError& error) {
  Driver& d = *driver_;
  if (!d.open) return;
  d.open = false;
  asio::error_code ignored;
  d.descriptor.cancel(ignored);
  d.timer.cancel();
  auto pending = std::move(d.pending);
  for (const auto& call : pending) call->complete(std::nullopt, error);
  d.closedChanged.notifyAll();
}

void DBusConnection::close() { shutDown(DBusError(DBusError::disconnected, "The D-Bus connection was closed.")); }

asio::awaitable<void> DBusConnection::closed() {
  auto self = shared_from_this();
  while (driver_->open) co_await driver_->closedChanged.wait();
}

asio::awaitable<sdbus::MethodReply> DBusConnection::call(sdbus::IProxy& proxy, sdbus::MethodCall message,
                                                         std::chrono::milliseconds timeout) {
  auto self = shared_from_this();
  Driver& d = *driver_;
  if (!d.open) throw lostError();
  auto call = std::make_shared<PendingCall>(d.executor);
  std::weak_ptr<PendingCall> weakCall = call;
  try {
    call->handle = proxy.callMethod(
        message,
        [weakCall](sdbus::MethodReply& reply, const sdbus::Error* error) {
          auto c = weakCall.lock();
          if (!c) return;
          if (error != nullptr) {
            c->complete(std::nullopt, fromSdbus(*error));
          } else {
            c->complete(reply, std::nullopt);
          }
        },
        std::chrono::duration_cast<std::chrono::microseconds>(timeout));
  } catch (const sdbus::Error& e) {
    throw fromSdbus(e);
  }
  // sd-bus times the call out as well, but only while the proxy lives; this
  // deadline holds whatever becomes of it.
  call->deadline.expires_after(timeout);
  call->deadline.async_wait([weakCall](const asio::error_code& error) {
    if (error) return;
    if (auto c = weakCall.lock()) {
      c->complete(std::nullopt, DBusError(DBusError::noReply, "The D-Bus service did not answer in time."));
    }
  });
  d.pending.insert(call);
  wake();

  struct Forget {
    DBusConnection& connection;
    std::shared_ptr<PendingCall> call;
    ~Forget() {
      call->handle.cancel();
      call->deadline.cancel();
      connection.driver_->pending.erase(call);
    }
  } forget{*this, call};
  while (!call->done) co_await call->changed.wait();
  if (call->error) throw *call->error;
  co_return std::move(*call->reply);
}

asio::awaitable<sdbus::Variant> DBusConnection::getProperty(sdbus::IProxy& proxy, const std::string& interface,
                                                            const std::string& name,
                                                            std::chrono::milliseconds timeout) {
  auto message = proxy.createMethodCall("org.freedesktop.DBus.Properties", "Get");
  message << interface << name;
  auto reply = co_await call(proxy, std::move(message), timeout);
  sdbus::Variant value;
  try {
    reply >> value;
  } catch (const sdbus::Error& e) {
    throw DBusError(DBusError::failed, "Unexpected reply to a property read: " + e.getMessage());
  }
  co_return value;
}

asio::awaitable<std::map<std::string, sdbus::Variant>> DBusConnection::getAllProperties(
    sdbus::IProxy& proxy, const std::string& interface, std::chrono::milliseconds timeout) {
  auto message = proxy.createMethodCall("org.freedesktop.DBus.Properties", "GetAll");
  message << interface;
  auto reply = co_await call(proxy, std::move(message), timeout);
  std::map<std::string, sdbus::Variant> values;
  try {
    reply >> values;
  } catch (const sdbus::Error& e) {
    throw DBusError(DBusError::failed, "Unexpected reply to a property read: " + e.getMessage());
  }
  co_return values;
}

}  // namespace glidemate
