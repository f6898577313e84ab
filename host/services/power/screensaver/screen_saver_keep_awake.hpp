#pragma once

#include <memory>
#include <set>

#include "host/services/power/keep_awake_assertions.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {

// Keep-awake assertions as org.freedesktop.ScreenSaver inhibitions on the
// session bus (the desktop's screen saver and idle handling honour them):
// an assertion is an Inhibit cookie, released with UnInhibit. Whatever is
// still held when this goes away is released without waiting for an
// answer; when the bus goes, the desktop drops the inhibitions itself.
class ScreenSaverKeepAwake final : public KeepAwakeAssertions {
 public:
  static constexpr const char* applicationName = "Glidemate";

  explicit ScreenSaverKeepAwake(std::shared_ptr<DBusConnection> sessionBus);
  ~ScreenSaverKeepAwake() override;

  asio::awaitable<std::optional<std::uint32_t>> create(const std::string& name) override;
  asio::awaitable<void> release(std::uint32_t assertion) override;
  void onLost(std::function<void()> handler) override;

 private:
  static asio::awaitable<void> watch(std::shared_ptr<DBusConnection> bus, ScreenSaverKeepAwake& self);

  std::shared_ptr<DBusConnection> bus_;
  std::unique_ptr<sdbus::IProxy> screenSaver_;
  std::set<std::uint32_t> held_;
  std::function<void()> lost_;
  Task watcher_;
};

}  // namespace glidemate::host
