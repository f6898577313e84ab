#include "host/app/desktop_services.hpp"

#include "host/input/x11/x11_event_poster.hpp"
#include "host/input/x11/x11_laser_overlay.hpp"
#include "host/services/audio/pulse/pulse_audio_output.hpp"
#include "host/services/battery/sysfs/sysfs_power_sources.hpp"
#include "host/services/bluetooth/bluez/bluez_bluetooth_system.hpp"
#include "host/services/clipboard/x11/x11_clipboard_service.hpp"
#include "host/services/now_playing/curl/curl_artwork_fetcher.hpp"
#include "host/services/now_playing/mpris/mpris_player_backend.hpp"
#include "host/services/presentation/x11/x11_presentation_backend.hpp"
#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {
namespace {

// The clipboard, presentations and the laser dot, on the X display of
// $DISPLAY; none of them without one.
void addX11Services(HostServices& services, const asio::any_io_executor& executor, X11EventPoster* poster,
                    Logger& logger) {
  std::shared_ptr<X11DesktopConnection> connection;
  try {
    connection = X11DesktopConnection::open(executor);
  } catch (const std::exception& e) {
    logger.log("desktop", std::string("No display for the clipboard, presentations and the laser pointer (") +
                              e.what() + "); phones are told they are not available");
    return;
  }
  services.clipboard = std::make_unique<X11ClipboardService>(connection);
  services.presentation =
      std::make_unique<PresentationService>(std::make_unique<X11PresentationBackend>(connection));
  if (poster == nullptr) return;
  try {
    services.laser = std::make_unique<LaserPointerService>(executor, *poster,
                                                           std::make_unique<X11LaserOverlay>(connection));
  } catch (const std::exception& e) {
    logger.log("desktop", std::string("No laser pointer: ") + e.what());
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
  addX11Services(services, executor, facilities.x11Poster, logger);
  addStatusServices(services, executor, facilities.systemBus, logger);
  addMediaServices(services, executor, facilities.sessionBus);
  return services;
}

}  // namespace glidemate::host
