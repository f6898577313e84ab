#include "host/gnome/mutter_display_config.hpp"

#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <string>
#include <utility>

#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {
namespace {

const std::string displayConfigName = "org.gnome.Mutter.DisplayConfig";
const std::string displayConfigPath = "/org/gnome/Mutter/DisplayConfig";
const std::string displayConfigInterface = "org.gnome.Mutter.DisplayConfig";

// GetCurrentState's reply.
using Properties = std::map<std::string, sdbus::Variant>;
using MonitorSpec = sdbus::Struct<std::string, std::string, std::string, std::string>;
using Mode = sdbus::Struct<std::string, std::int32_t, std::int32_t, double, double, std::vector<double>, Properties>;
using Monitor = sdbus::Struct<MonitorSpec, std::vector<Mode>, Properties>;
using LogicalMonitor =
    sdbus::Struct<std::int32_t, std::int32_t, double, std::uint32_t, bool, std::vector<MonitorSpec>, Properties>;

// The layout counts in logical pixels (scaled) unless it says physical.
constexpr std::uint32_t layoutModePhysical = 2;

template <class T>
std::optional<T> property(const Properties& properties, const std::string& name) {
  const auto it = properties.find(name);
  if (it == properties.end()) return std::nullopt;
  try {
    return it->second.get<T>();
  } catch (const sdbus::Error&) {
    return std::nullopt;
  }
}

const Mode* currentMode(const std::vector<Monitor>& monitors, const std::string& connector) {
  for (const auto& monitor : monitors) {
    if (std::get<0>(std::get<0>(monitor)) != connector) continue;
    for (const auto& mode : std::get<1>(monitor)) {
      if (property<bool>(std::get<6>(mode), "is-current").value_or(false)) return &mode;
    }
  }
  return nullptr;
}

}  // namespace

struct MutterDisplayConfig::State : std::enable_shared_from_this<State> {
  State(const asio::any_io_executor& e, std::shared_ptr<DBusConnection> c) : executor(e), connection(std::move(c)) {}

  asio::any_io_executor executor;
  std::shared_ptr<DBusConnection> connection;
  sdbus::Slot changedSlot;
  Task rereading;
  std::optional<std::vector<ScreenRect>> monitors;
  std::optional<double> refreshRate;

  void parse(sdbus::MethodReply& reply) {
    std::uint32_t serial = 0;
    std::vector<Monitor> physical;
    std::vector<LogicalMonitor> logical;
    Properties properties;
    reply >> serial >> physical >> logical >> properties;
    const bool scaled = property<std::uint32_t>(properties, "layout-mode").value_or(1) != layoutModePhysical;
    std::vector<ScreenRect> rects;
    std::optional<double> rate;
    for (const auto& l : logical) {
      const auto& specs = std::get<5>(l);
      if (specs.empty()) continue;
      const Mode* mode = currentMode(physical, std::get<0>(specs.front()));
      if (mode == nullptr) continue;
      double width = std::get<1>(*mode), height = std::get<2>(*mode);
      // Transforms 1, 3, 5 and 7 turn the monitor a quarter.
      if (std::get<3>(l) % 2 == 1) std::swap(width, height);
      const double scale = std::get<2>(l);
      if (scaled && scale > 0) {
        width /= scale;
        height /= scale;
      }
      rects.push_back({static_cast<double>(std::get<0>(l)), static_cast<double>(std::get<1>(l)), width, height});
      if (std::get<4>(l) || !rate) rate = std::get<3>(*mode);
    }
    if (rects.empty()) return;
    monitors = std::move(rects);
    refreshRate = rate;
  }

  asio::awaitable<void> refresh() {
    auto self = shared_from_this();
    if (!changedSlot) {
      std::weak_ptr<State> weak = self;
      changedSlot = connection->raw().addMatch(
          "type='signal',sender='" + displayConfigName + "',path='" + displayConfigPath + "',interface='" +
              displayConfigInterface + "',member='MonitorsChanged'",
          [weak](sdbus::Message&) {
            auto s = weak.lock();
            if (!s) return;
            s->rereading = Task(s->executor, s->refresh());
          });
    }
    auto proxy = connection->proxy(displayConfigName, displayConfigPath);
    auto ask = proxy->createMethodCall(displayConfigInterface, "GetCurrentState");
    try {
      auto reply = co_await connection->call(*proxy, std::move(ask));
      parse(reply);
    } catch (const DBusError&) {
      // Kept as it was: the stream's monitor stands in until a read works.
    } catch (const sdbus::Error&) {
    }
  }
};

MutterDisplayConfig::MutterDisplayConfig(const asio::any_io_executor& executor,
                                         std::shared_ptr<DBusConnection> connection)
    : state_(std::make_shared<State>(executor, std::move(connection))) {}

MutterDisplayConfig::~MutterDisplayConfig() {
  state_->rereading.cancel();
  state_->changedSlot.reset();
}

asio::awaitable<void> MutterDisplayConfig::refresh() { co_await state_->refresh(); }

std::optional<std::vector<ScreenRect>> MutterDisplayConfig::monitors() const { return state_->monitors; }
std::optional<double> MutterDisplayConfig::refreshRate() const { return state_->refreshRate; }

}  // namespace glidemate::host
