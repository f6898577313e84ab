#include "host/services/power/gnome/mutter_display_sleeper.hpp"

#include <cstdint>
#include <stdexcept>

namespace glidemate::host {
namespace {

constexpr const char* service = "org.gnome.Mutter.DisplayConfig";
constexpr const char* path = "/org/gnome/Mutter/DisplayConfig";
// mutter's power-save modes: 0 on, 1 standby, 2 suspend, 3 off.
constexpr std::int32_t powerSaveOff = 3;

}  // namespace

MutterDisplaySleeper::MutterDisplaySleeper(std::shared_ptr<DBusConnection> sessionBus)
    : bus_(std::move(sessionBus)), displayConfig_(bus_->proxy(service, path)) {}

void MutterDisplaySleeper::sleepDisplay() {
  if (!bus_->isOpen()) throw std::runtime_error("the session bus is gone");
  try {
    auto call = displayConfig_->createMethodCall("org.freedesktop.DBus.Properties", "Set");
    call << std::string(service) << std::string("PowerSaveMode") << sdbus::Variant(powerSaveOff);
    call.dontExpectReply();
    displayConfig_->callMethod(call);
  } catch (const sdbus::Error& e) {
    throw std::runtime_error(e.getMessage());
  }
  bus_->wake();
}

}  // namespace glidemate::host
