#include "host/services/power/logind/logind_power_actions.hpp"

#include "host/services/apple_script_runner.hpp"

namespace glidemate::host {
namespace {

constexpr const char* service = "org.freedesktop.login1";
constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

AppleScriptRunner::Failure failureFrom(const DBusError& error) {
  return AppleScriptRunner::Failure::failed(error.message().empty() ? error.name() : error.message());
}

}  // namespace

LogindPowerActions::LogindPowerActions(std::shared_ptr<DBusConnection> systemBus, std::string session)
    : bus_(std::move(systemBus)), session_(std::move(session)), manager_(bus_->proxy(service, managerPath)) {}

asio::awaitable<void> LogindPowerActions::perform(PowerAction action) {
  try {
    if (action == PowerAction::lock) {
      co_await lock();
      co_return;
    }
    const char* method = action == PowerAction::sleep     ? "Suspend"
                         : action == PowerAction::restart ? "Reboot"
                                                          : "PowerOff";
    auto call = manager_->createMethodCall(managerInterface, method);
    // Not interactive: nobody is at the computer to answer a password prompt.
    call << false;
    co_await bus_->call(*manager_, std::move(call));
  } catch (const DBusError& e) {
    throw failureFrom(e);
  } catch (const sdbus::Error& e) {
    throw AppleScriptRunner::Failure::failed(e.getMessage().empty() ? e.getName() : e.getMessage());
  }
}

asio::awaitable<void> LogindPowerActions::lock() {
  auto find = manager_->createMethodCall(managerInterface, "GetSession");
  find << session_;
  auto reply = co_await bus_->call(*manager_, std::move(find));
  sdbus::ObjectPath path;
  reply >> path;
  auto session = bus_->proxy(service, path);
  co_await bus_->call(*session, session->createMethodCall(sessionInterface, "Lock"));
}

}  // namespace glidemate::host
