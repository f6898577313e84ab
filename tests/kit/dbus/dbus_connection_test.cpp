#include "kit/dbus/dbus_connection.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>

#include "kit/runtime/task.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using namespace std::chrono_literals;
using testing::PrivateBus;
using testing::runAwaitable;
using testing::runUntil;

constexpr const char* serviceName = "org.glidemate.Test";
constexpr const char* objectPath = "/org/glidemate/Test";
constexpr const char* interfaceName = "org.glidemate.Test";

// A service on the private bus, driven by the same executor as the client:
// it echoes, fails, stays silent, holds a property and emits a signal.
class TestService {
 public:
  TestService(asio::io_context& io, const std::string& address)
      : connection_(DBusConnection::openAddress(io.get_executor(), address)),
        object_(sdbus::createObject(connection_->raw(), objectPath)) {
    object_->registerMethod(interfaceName, "Echo", "s", "s", [](sdbus::MethodCall call) {
      std::string text;
      call >> text;
      auto reply = call.createReply();
      reply << text;
      reply.send();
    });
    object_->registerMethod(interfaceName, "Fail", "", "", [](sdbus::MethodCall) {
      throw sdbus::Error("org.glidemate.Error.Refused", "That was refused.");
    });
    object_->registerMethod(interfaceName, "Silent", "", "", [this](sdbus::MethodCall call) {
      unanswered_.push_back(std::move(call));
    });
    object_->registerProperty(interfaceName, "Answer", "i", [](sdbus::PropertyGetReply& reply) {
      reply << std::int32_t{42};
    });
    object_->registerSignal(interfaceName, "Ping", "s");
    object_->finishRegistration();
    connection_->raw().requestName(serviceName);
  }

  sdbus::IConnection& raw() { return connection_->raw(); }

  // Emitted from outside any D-Bus callback, as a timer would.
  void ping(const std::string& text) {
    auto signal = object_->createSignal(interfaceName, "Ping");
    signal << text;
    object_->emitSignal(signal);
    connection_->wake();
  }

 private:
  std::shared_ptr<DBusConnection> connection_;
  std::unique_ptr<sdbus::IObject> object_;
  std::vector<sdbus::MethodCall> unanswered_;
};

class DBusConnectionTest : public ::testing::Test {
 protected:
  asio::io_context io;
  PrivateBus bus;
  TestService service{io, bus.address()};
  std::shared_ptr<DBusConnection> client = DBusConnection::openAddress(io.get_executor(), bus.address());
  std::unique_ptr<sdbus::IProxy> proxy = client->proxy(serviceName, objectPath);

  DBusError failureOf(const std::string& destination, const std::string& method,
                      std::chrono::milliseconds timeout = DBusConnection::defaultTimeout) {
    auto target = client->proxy(destination, objectPath);
    try {
      runAwaitable(io, client->call(*target, target->createMethodCall(interfaceName, method), timeout));
    } catch (const DBusError& e) {
      return e;
    }
    ADD_FAILURE() << method << " did not fail";
    return DBusError("", "");
  }
};

TEST_F(DBusConnectionTest, CallsAndPropertiesAreAnsweredOnTheExecutor) {
  auto call = proxy->createMethodCall(interfaceName, "Echo");
  call << std::string("héllo");
  auto reply = runAwaitable(io, client->call(*proxy, std::move(call)));
  std::string echoed;
  reply >> echoed;
  EXPECT_EQ(echoed, "héllo");

  auto answer = runAwaitable(io, client->getProperty(*proxy, interfaceName, "Answer"));
  EXPECT_EQ(answer.get<std::int32_t>(), 42);
  auto all = runAwaitable(io, client->getAllProperties(*proxy, interfaceName));
  ASSERT_TRUE(all.contains("Answer"));
  EXPECT_EQ(all["Answer"].get<std::int32_t>(), 42);
}

TEST_F(DBusConnectionTest, FailuresCarryTheirNameAndMessage) {
  auto refused = failureOf(serviceName, "Fail");
  EXPECT_EQ(refused, DBusError("org.glidemate.Error.Refused", "That was refused."));
  EXPECT_STREQ(refused.what(), "That was refused.");

  EXPECT_EQ(failureOf("org.glidemate.Missing", "Echo").name(), "org.freedesktop.DBus.Error.ServiceUnknown");
  // A peer that never answers is given up on after the caller's time-out.
  EXPECT_EQ(failureOf(serviceName, "Silent", 50ms).name(), DBusError::noReply);
}

TEST_F(DBusConnectionTest, SignalsReachHandlersOnTheExecutorThread) {
  std::vector<std::string> received;
  std::thread::id handlerThread;
  proxy->registerSignalHandler(interfaceName, "Ping", [&](sdbus::Signal& signal) {
    std::string text;
    signal >> text;
    received.push_back(text);
    handlerThread = std::this_thread::get_id();
  });
  proxy->finishRegistration();
  // The match is in place once a call made after it has been answered.
  runAwaitable(io, client->getProperty(*proxy, interfaceName, "Answer"));

  asio::post(io, [&] { service.ping("one"); });
  ASSERT_TRUE(runUntil(io, [&] { return !received.empty(); }));
  EXPECT_EQ(received, std::vector<std::string>{"one"});
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

// A match added synchronously makes sd-bus read what already waits on the
// socket while it waits for the bus's answer; a signal read ahead that way
// is handled at once, with no other message to wake the connection.
TEST_F(DBusConnectionTest, ASignalReadAheadBySynchronousWorkIsHandled) {
  std::vector<std::string> received;
  auto pings = client->raw().addMatch("type='signal',interface='org.glidemate.Test',member='Ping'",
                                      [&](sdbus::Message& message) {
                                        std::string text;
                                        message >> text;
                                        received.push_back(text);
                                      });
  // The match is in place and the connection idle once a later call is answered.
  runAwaitable(io, client->getProperty(*proxy, interfaceName, "Answer"));

  service.ping("early");
  // The bus routes a connection's messages in order: once it has answered
  // the service's next call, the signal sits on the client's socket.
  std::string busId;
  sdbus::createProxy(service.raw(), "org.freedesktop.DBus", "/org/freedesktop/DBus")
      ->callMethod("GetId")
      .onInterface("org.freedesktop.DBus")
      .storeResultsTo(busId);
  auto other = client->raw().addMatch("type='signal',member='Unheard'", [](sdbus::Message&) {});

  EXPECT_TRUE(runUntil(io, [&] { return !received.empty(); }));
  EXPECT_EQ(received, std::vector<std::string>{"early"});
}

TEST_F(DBusConnectionTest, ALostBusFailsPendingAndLaterCalls) {
  bool closedSeen = false;
  Task watcher(io.get_executor(), [](std::shared_ptr<DBusConnection> c, bool& seen) -> asio::awaitable<void> {
    co_await c->closed();
    seen = true;
  }(client, closedSeen));
  std::optional<DBusError> pendingFailure;
  Task caller(io.get_executor(), [](DBusConnection& c, sdbus::IProxy& p,
                                    std::optional<DBusError>& failure) -> asio::awaitable<void> {
    try {
      co_await c.call(p, p.createMethodCall(interfaceName, "Silent"), 20s);
    } catch (const DBusError& e) {
      failure = e;
    }
  }(*client, *proxy, pendingFailure));
  // Let the call reach the service before the bus goes.
  runAwaitable(io, client->getProperty(*proxy, interfaceName, "Answer"));

  bus.stop();
  ASSERT_TRUE(runUntil(io, [&] { return pendingFailure.has_value() && closedSeen; }));
  // sd-bus may fail it first ("no reply") or the connection does as it closes.
  EXPECT_TRUE(pendingFailure->name() == DBusError::noReply || pendingFailure->name() == DBusError::disconnected)
      << pendingFailure->name();
  EXPECT_FALSE(client->isOpen());
  EXPECT_EQ(failureOf(serviceName, "Echo").name(), DBusError::disconnected);
}

TEST_F(DBusConnectionTest, ACancelledCallIsAbandonedAndTheConnectionGoesOn) {
  Task caller(io.get_executor(), [](DBusConnection& c, sdbus::IProxy& p) -> asio::awaitable<void> {
    co_await c.call(p, p.createMethodCall(interfaceName, "Silent"), 20s);
  }(*client, *proxy));
  runAwaitable(io, client->getProperty(*proxy, interfaceName, "Answer"));
  caller.cancel();
  ASSERT_TRUE(runUntil(io, [&] { return caller.isDone(); }));

  auto call = proxy->createMethodCall(interfaceName, "Echo");
  call << std::string("still here");
  auto reply = runAwaitable(io, client->call(*proxy, std::move(call)));
  std::string echoed;
  reply >> echoed;
  EXPECT_EQ(echoed, "still here");
}

TEST(DBusConnectionOpen, AMissingBusIsAnOrdinaryFailure) {
  asio::io_context io;
  EXPECT_THROW(DBusConnection::openAddress(io.get_executor(), "unix:path=/nonexistent/glidemate-bus"), DBusError);
}

}  // namespace
}  // namespace glidemate
