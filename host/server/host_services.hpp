#pragma once

#include <memory>
#include <vector>

#include "host/input/laser_pointer_service.hpp"
#include "host/services/clipboard/clipboard_service.hpp"
#include "host/services/presentation/presentation_service.hpp"
#include "host/services/audio/audio_service.hpp"
#include "host/services/battery/battery_service.hpp"
#include "host/services/bluetooth/bluetooth_service.hpp"
#include "host/services/now_playing/now_playing_service.hpp"
#include "kit/wire/event.hpp"

namespace glidemate::host {

// The services behind the phone's commands, owned by the host server for
// its life. Each is built by the program for the desktop it runs on (or by
// a test, with fakes); one that this desktop cannot offer stays empty, and
// its commands are answered with a fixed "not available" sentence.
struct HostServices {
  std::unique_ptr<ClipboardService> clipboard;
  std::unique_ptr<PresentationService> presentation;
  std::unique_ptr<LaserPointerService> laser;
  std::unique_ptr<AudioService> audio;
  std::unique_ptr<BatteryService> battery;
  std::unique_ptr<BluetoothService> bluetooth;
  // What the desktop's media players are playing; their keys.
  std::unique_ptr<NowPlayingService> nowPlaying;

  // The settings a phone mirrors, sent to it first thing after its
  // handshake: three-finger drag, then keep-awake.
  std::vector<Event> mirroredSettings() const;
};

}  // namespace glidemate::host
