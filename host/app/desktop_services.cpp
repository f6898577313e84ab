#include "host/app/desktop_services.hpp"

#include <cstdlib>

#include "host/app/settings_drag_mode_setting.hpp"
#include "host/gnome/mutter_clipboard.hpp"
#include "host/gnome/mutter_remote_desktop.hpp"
#include "host/input/x11/x11_event_poster.hpp"
#include "host/input/x11/x11_laser_overlay.hpp"
#include "host/services/audio/pulse/pulse_audio_output.hpp"
#include "host/services/battery/sysfs/sysfs_power_sources.hpp"
#include "host/services/bluetooth/bluez/bluez_bluetooth_system.hpp"
#include "host/services/clipboard/wlroots/wlroots_clipboard_service.hpp"
#include "host/services/clipboard/x11/x11_clipboard_service.hpp"
#include "host/services/now_playing/curl/curl_artwork_fetcher.hpp"
#include "host/services/now_playing/mpris/mpris_player_backend.hpp"
#include "host/server/unavailable_feature.hpp"
#include "host/services/apple_script_runner.hpp"
#include "host/services/catalog/x11/x11_application_switcher.hpp"
#include "host/services/catalog/x11/xsettings_icon_theme.hpp"
#include "host/services/catalog/xdg/desktop_entry_directory.hpp"
#include "host/services/catalog/xdg/gio_application_launcher.hpp"
#include "host/services/power/gnome/mutter_display_sleeper.hpp"
#include "host/services/power/logind/logind_power_actions.hpp"
#include "host/services/power/screensaver/screen_saver_keep_awake.hpp"
#include "host/services/power/x11/x11_display_sleeper.hpp"
#include "host/services/presentation/wlroots/wlroots_presentation_backend.hpp"
#include "host/services/presentation/x11/x11_presentation_backend.hpp"
#include "host/services/presentation/xwayland_presentation_backend.hpp"
#include "host/services/screen_preview/gnome/mutter_screen_cast_source.hpp"
#include "host/services/screen_preview/pipewire/pipewire_screen_capture.hpp"
#include "host/services/screen_preview/portal/portal_screen_cast_source.hpp"
#include "host/services/screen_preview/wlroots/wlroots_screen_capture.hpp"
#include "host/services/screen_preview/x11/x11_screen_capture.hpp"
#include "host/services/shortcuts/script_folder_shortcut_tool.hpp"
#include "host/wlroots/wlroots_laser_overlay.hpp"
#include "host/wlroots/wlroots_toplevels.hpp"
#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {
namespace {

// Whether input goes to a Wayland compositor. XWayland's X display then
// shows only X programs' windows, and its screen saver turns nothing off.
bool isWaylandRoute(const DesktopFacilities& facilities) {
  return facilities.mutter != nullptr || facilities.wlroots != nullptr || facilities.portal != nullptr;
}

// The clipboard, presentations and the laser dot, each unless the
// compositor already carries it: on the X display of $DISPLAY, or on a
// Wayland desktop as far as it lets them (the frontmost window unread, no
// dot drawn).
void addPresentationServices(HostServices& services, const asio::any_io_executor& executor,
                             const std::shared_ptr<X11DesktopConnection>& display,
                             const DesktopFacilities& facilities, Logger& logger) {
  if (display && !services.clipboard) services.clipboard = std::make_unique<X11ClipboardService>(display);
  if (!services.presentation) {
    std::unique_ptr<PresentationBackend> x11;
    if (display) x11 = std::make_unique<X11PresentationBackend>(display);
    if (isWaylandRoute(facilities)) {
      services.presentation =
          std::make_unique<PresentationService>(std::make_unique<XWaylandPresentationBackend>(std::move(x11)));
    } else if (x11) {
      services.presentation = std::make_unique<PresentationService>(std::move(x11));
    }
  }
  if (services.laser) return;
  if (display && facilities.x11Poster != nullptr) {
    try {
      services.laser = std::make_unique<LaserPointerService>(executor, *facilities.x11Poster,
                                                             std::make_unique<X11LaserOverlay>(display));
    } catch (const std::exception& e) {
      logger.log("desktop", std::string("No laser pointer: ") + e.what());
    }
  } else if (isWaylandRoute(facilities) && facilities.poster != nullptr) {
    services.laser = std::make_unique<LaserPointerService>(executor, *facilities.poster, nullptr);
    logger.log("desktop",
               "This Wayland desktop puts no window of ours above the others: the laser pointer's colour is taken "
               "but no dot is drawn, and slideshows are driven by keys to whatever window is in front");
  }
}

// Volume, battery and Bluetooth devices, each falling back as the phone
// expects when this computer lacks the facility: no sound server reads "No
// output" (and is looked for again), no system bus lists no devices.
void addStatusServices(HostServices& services, const asio::any_io_executor& executor,
                       const std::shared_ptr<DBusConnection>& systemBus, Logger& logger) {
  try {
    services.audio = std::make_unique<AudioService>(executor, std::make_shared<PulseAudioOutput>(executor, logger));
  } catch (const std::exception& e) {
    logger.log("audio", std::string("No volume control: ") + e.what());
  }
  services.battery = std::make_unique<BatteryService>(std::make_unique<SysfsPowerSources>());
  std::shared_ptr<BluetoothSystem> bluez;
  if (systemBus) bluez = std::make_shared<BlueZBluetoothSystem>(systemBus, logger);
  services.bluetooth = std::make_unique<BluetoothService>(std::move(bluez));
}

// What the desktop's media players are playing, over MPRIS; without a
// session bus no player is ever found.
void addMediaServices(HostServices& services, const asio::any_io_executor& executor,
                      const std::shared_ptr<DBusConnection>& sessionBus) {
  services.nowPlaying = std::make_unique<NowPlayingService>(
      executor, std::make_unique<MprisPlayerBackend>(
                    sessionBus, std::make_unique<CurlArtworkFetcher>(executor, CurlArtworkFetcher::Options{})));
}

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

// The phone's launcher: the desktop entries, their icons in the desktop's
// icon theme, and the window manager's windows.
void addAppService(HostServices& services, const std::shared_ptr<X11DesktopConnection>& display) {
  std::weak_ptr<X11DesktopConnection> weak = display;
  auto directory = std::make_unique<DesktopEntryDirectory>(
      DesktopEntryDirectory::standardFolders(), IconTheme::standard(), [weak]() -> std::optional<std::string> {
        if (auto connection = weak.lock()) return xsettingsIconTheme(*connection);
        return std::nullopt;
      });
  services.catalog = std::make_unique<AppCatalogService>(std::move(directory),
                                                         std::make_unique<GioApplicationLauncher>(),
                                                         std::make_unique<X11ApplicationSwitcher>(display),
                                                         ownApplicationId);
}

// Sleep, lock, restart and shut down through logind, the display through
// the X server, keep-awake through the screen saver; each part the desktop
// lacks refuses on its own, and without any of them there is no power
// service at all.
void addPowerService(HostServices& services, const asio::any_io_executor& executor,
                     const std::shared_ptr<X11DesktopConnection>& display, const DesktopFacilities& facilities,
                     Logger& logger) {
  if (!facilities.systemBus && !facilities.sessionBus && !display) {
    logger.log("desktop", "No display and no D-Bus: phones are told power control isn't available");
    return;
  }
  std::unique_ptr<PowerActions> actions;
  if (facilities.systemBus) {
    const char* session = std::getenv("XDG_SESSION_ID");
    actions = std::make_unique<LogindPowerActions>(facilities.systemBus,
                                                   session != nullptr && *session != '\0' ? session : "auto");
  } else {
    logger.log("desktop", "No system bus: sleeping, locking, restarting and shutting down are refused");
    actions = std::make_unique<NoPowerActions>();
  }
  // XWayland's screen saver and DPMS would turn nothing off on a Wayland
  // session, so there only the compositor's own way counts.
  std::unique_ptr<DisplaySleeper> sleeper;
  if (facilities.mutter != nullptr && facilities.sessionBus) {
    sleeper = std::make_unique<MutterDisplaySleeper>(facilities.sessionBus);
  } else if (display && !facilities.waylandSession) {
    sleeper = std::make_unique<X11DisplaySleeper>(display);
  } else {
    if (facilities.waylandSession) {
      logger.log("desktop", "This Wayland desktop offers no way to turn its display off: phones asking are told it "
                            "wouldn't");
    }
    sleeper = std::make_unique<NoDisplaySleeper>();
  }
  std::unique_ptr<KeepAwakeAssertions> keepAwake;
  if (facilities.sessionBus) {
    keepAwake = std::make_unique<ScreenSaverKeepAwake>(facilities.sessionBus);
  } else {
    logger.log("desktop", "No session bus: the computer can't be kept awake");
    keepAwake = std::make_unique<NoKeepAwake>();
  }
  services.power =
      std::make_unique<PowerService>(executor, std::move(actions), std::move(sleeper), std::move(keepAwake));
}

}  // namespace

std::shared_ptr<DBusConnection> openSessionBus(const asio::any_io_executor& executor, Logger& logger) {
  try {
    return DBusConnection::open(executor, DBusConnection::Bus::session);
  } catch (const DBusError& e) {
    logger.log("media", std::string(e.what()) + "; no media player will be found");
    return nullptr;
  }
}

std::shared_ptr<DBusConnection> openSystemBus(const asio::any_io_executor& executor, Logger& logger) {
  try {
    return DBusConnection::open(executor, DBusConnection::Bus::system);
  } catch (const DBusError& e) {
    logger.log("bluetooth", "Bluetooth LE and Bluetooth devices unavailable: " + e.message());
    return nullptr;
  }
}

HostServices desktopServices(const asio::any_io_executor& executor, const DesktopFacilities& facilities,
                             Logger& logger) {
  HostServices services;
  // The capture connects when a phone first asks to watch the screen; on a
  // desktop without an X server, GNOME's, a wlroots compositor or the
  // desktop portal's session (another Wayland compositor) that phone is
  // told the capture could not start.
  std::unique_ptr<ScreenCapture> capture;
  if (facilities.mutter != nullptr) {
    services.clipboard = std::make_unique<MutterClipboard>(executor, *facilities.mutter, logger);
    capture = std::make_unique<PipeWireScreenCapture>(
        executor, std::make_shared<MutterScreenCastSource>(facilities.mutter->connection()));
    logger.log("desktop", "The clipboard and the screen preview go through GNOME's remote desktop");
  } else if (facilities.wlroots) {
    // The compositor's own clipboard, which its Wayland windows use (it
    // hands XWayland's on), and its own screencopy.
    services.clipboard = std::make_unique<WlrootsClipboardService>(executor, WlrootsClipboardService::Options{});
    capture = std::make_unique<WlrootsScreenCapture>();
    // Its own windows, Wayland's and XWayland's alike, and its overlay
    // layer above them.
    const WlrootsRoute& route = *facilities.wlroots;
    services.presentation = std::make_unique<PresentationService>(std::make_unique<WlrootsPresentationBackend>(
        std::make_unique<WlrootsToplevels>(executor, logger, route.display)));
    if (route.poster != nullptr) {
      services.laser = std::make_unique<LaserPointerService>(
          executor, *route.poster,
          std::make_unique<WlrootsLaserOverlay>(executor, logger, WlrootsLaserOverlay::Options{route.display}));
    }
  } else if (facilities.portal != nullptr) {
    // The portal has no clipboard in Debian 12's version (1.16): that stays
    // on XWayland's display below.
    capture = std::make_unique<PipeWireScreenCapture>(executor,
                                                      std::make_shared<PortalScreenCastSource>(*facilities.portal));
    logger.log("desktop", "The screen preview shows the desktop portal's screen cast, once the user allows it");
  } else {
    capture = std::make_unique<X11ScreenCapture>();
  }
  services.screenPreview = std::make_unique<ScreenPreviewService>(executor, std::move(capture), logger);
  std::shared_ptr<X11DesktopConnection> display;
  try {
    display = X11DesktopConnection::open(executor);
  } catch (const std::exception& e) {
    const bool wayland = isWaylandRoute(facilities);
    logger.log("desktop", std::string("No display for ") + (services.clipboard ? "" : "the clipboard, ") +
                              (wayland ? "the app list (" : "presentations, the laser pointer, the app list or "
                                                            "turning the display off (") +
                              e.what() + "); phones are told they are not available");
  }
  addPresentationServices(services, executor, display, facilities, logger);
  if (display) addAppService(services, display);
  addStatusServices(services, executor, facilities.systemBus, logger);
  addMediaServices(services, executor, facilities.sessionBus);
  addPowerService(services, executor, display, facilities, logger);
  if (!facilities.shortcuts.empty()) {
    services.shortcuts = std::make_unique<ShortcutsService>(
        std::make_unique<ScriptFolderShortcutTool>(executor, facilities.shortcuts));
  }
  if (facilities.defaults != nullptr) {
    services.dragMode = std::make_unique<TrackpadDragModeService>(
        executor, std::make_unique<SettingsDragModeSetting>(*facilities.defaults), std::make_shared<SteadyFrameClock>());
  }
  return services;
}

}  // namespace glidemate::host
