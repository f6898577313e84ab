#include "host/app/launcher_services.hpp"

#include <cstdlib>

#include "host/app/settings_drag_mode_setting.hpp"
#include "host/server/unavailable_feature.hpp"
#include "host/services/apple_script_runner.hpp"
#include "host/services/catalog/x11/x11_running_applications.hpp"
#include "host/services/catalog/x11/xsettings_icon_theme.hpp"
#include "host/services/catalog/xdg/desktop_entry_directory.hpp"
#include "host/services/catalog/xdg/gio_application_launcher.hpp"
#include "host/services/power/logind/logind_power_actions.hpp"
#include "host/services/power/screensaver/screen_saver_keep_awake.hpp"
#include "host/services/power/x11/x11_display_sleeper.hpp"
#include "host/services/shortcuts/script_folder_shortcut_tool.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "desktop";

// The parts of power control this desktop lacks, each refusing as the
// missing facility would.
class NoPowerActions final : public PowerActions {
 public:
  asio::awaitable<void> perform(PowerAction) override {
    throw AppleScriptRunner::Failure::failed(std::string(Unavailable::power.reason));
    co_return;
  }
};

class NoDisplaySleeper final : public DisplaySleeper {
 public:
  void sleepDisplay() override { throw std::runtime_error("no display"); }
};

class NoKeepAwake final : public KeepAwakeAssertions {
 public:
  asio::awaitable<std::optional<std::uint32_t>> create(const std::string&) override { co_return std::nullopt; }
  asio::awaitable<void> release(std::uint32_t) override { co_return; }
  void onLost(std::function<void()>) override {}
};

std::string sessionToLock() {
  const char* session = std::getenv("XDG_SESSION_ID");
  return session != nullptr && *session != '\0' ? session : "auto";
}

}  // namespace

void addLauncherServices(HostServices& services, const asio::any_io_executor& executor, const LinuxDesktop& desktop,
                         UserDefaults& defaults, const HostFolders& folders, Logger& logger) {
  if (desktop.display) {
    std::weak_ptr<X11DesktopConnection> display = desktop.display;
    auto directory = std::make_unique<DesktopEntryDirectory>(
        DesktopEntryDirectory::standardFolders(), IconTheme::standard(), [display]() -> std::optional<std::string> {
          if (auto connection = display.lock()) return xsettingsIconTheme(*connection);
          return std::nullopt;
        });
    services.catalog = std::make_unique<AppCatalogService>(std::move(directory),
                                                           std::make_unique<GioApplicationLauncher>(),
                                                           std::make_unique<X11RunningApplications>(desktop.display),
                                                           ownApplicationId);
  } else {
    logger.log(category, "No display: phones are told the app list isn't available");
  }

  if (desktop.systemBus || desktop.sessionBus || desktop.display) {
    std::unique_ptr<PowerActions> actions;
    if (desktop.systemBus) {
      actions = std::make_unique<LogindPowerActions>(desktop.systemBus, sessionToLock());
    } else {
      logger.log(category, "No system bus: sleeping, locking, restarting and shutting down are refused");
      actions = std::make_unique<NoPowerActions>();
    }
    std::unique_ptr<DisplaySleeper> display;
    if (desktop.display) {
      display = std::make_unique<X11DisplaySleeper>(desktop.display);
    } else {
      logger.log(category, "No display: turning the display off is refused");
      display = std::make_unique<NoDisplaySleeper>();
    }
    std::unique_ptr<KeepAwakeAssertions> keepAwake;
    if (desktop.sessionBus) {
      keepAwake = std::make_unique<ScreenSaverKeepAwake>(desktop.sessionBus);
    } else {
      logger.log(category, "No session bus: the computer can't be kept awake");
      keepAwake = std::make_unique<NoKeepAwake>();
    }
    services.power =
        std::make_unique<PowerService>(executor, std::move(actions), std::move(display), std::move(keepAwake));
  } else {
    logger.log(category, "No display and no D-Bus: phones are told power control isn't available");
  }

  services.shortcuts =
      std::make_unique<ShortcutsService>(std::make_unique<ScriptFolderShortcutTool>(executor, folders.shortcuts));
  services.dragMode = std::make_unique<TrackpadDragModeService>(
      executor, std::make_unique<SettingsDragModeSetting>(defaults), std::make_shared<SteadyFrameClock>());
}

}  // namespace glidemate::host
