#include "host/services/power/screensaver/screen_saver_keep_awake.hpp"

#include <asio/this_coro.hpp>

namespace glidemate::host {
namespace {

constexpr const char* service = "org.freedesktop.ScreenSaver";
constexpr const char* path = "/org/freedesktop/ScreenSaver";
constexpr const char* interface = "org.freedesktop.ScreenSaver";

}  // namespace

ScreenSaverKeepAwake::ScreenSaverKeepAwake(std::shared_ptr<DBusConnection> sessionBus)
    : bus_(std::move(sessionBus)), screenSaver_(bus_->proxy(service, path)) {}

ScreenSaverKeepAwake::~ScreenSaverKeepAwake() {
  if (!bus_->isOpen()) return;
  for (const auto cookie : held_) {
    try {
      auto call = screenSaver_->createMethodCall(interface, "UnInhibit");
      call << cookie;
      call.dontExpectReply();
      screenSaver_->callMethod(call);
    } catch (const sdbus::Error&) {
      // The bus is going too; the inhibition goes with the connection.
    }
  }
}

void ScreenSaverKeepAwake::onLost(std::function<void()> handler) { lost_ = std::move(handler); }

asio::awaitable<std::optional<std::uint32_t>> ScreenSaverKeepAwake::create(const std::string& name) {
  try {
    auto call = screenSaver_->createMethodCall(interface, "Inhibit");
    call << std::string(applicationName) << name;
    auto reply = co_await bus_->call(*screenSaver_, std::move(call));
    std::uint32_t cookie = 0;
    reply >> cookie;
    held_.insert(cookie);
    if (watcher_.isDone()) watcher_ = Task(co_await asio::this_coro::executor, watch(bus_, *this));
    co_return cookie;
  } catch (const DBusError&) {
  } catch (const sdbus::Error&) {
  }
  co_return std::nullopt;
}

asio::awaitable<void> ScreenSaverKeepAwake::release(std::uint32_t assertion) {
  if (held_.erase(assertion) == 0) co_return;
  try {
    auto call = screenSaver_->createMethodCall(interface, "UnInhibit");
    call << assertion;
    co_await bus_->call(*screenSaver_, std::move(call));
  } catch (const DBusError&) {
    // Gone with the screen saver or the bus; nothing is held either way.
  } catch (const sdbus::Error&) {
  }
}

asio::awaitable<void> ScreenSaverKeepAwake::watch(std::shared_ptr<DBusConnection> bus, ScreenSaverKeepAwake& self) {
  // Ends by cancellation when the assertions' owner goes first.
  co_await bus->closed();
  self.held_.clear();
  if (self.lost_) self.lost_();
}

}  // namespace glidemate::host
