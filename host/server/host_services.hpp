#pragma once

#include <memory>
#include <vector>

#include "host/services/catalog/app_catalog_service.hpp"
#include "host/services/drag_mode/trackpad_drag_mode_service.hpp"
#include "host/services/power/power_service.hpp"
#include "host/services/shortcuts/shortcuts_service.hpp"
#include "kit/wire/event.hpp"

namespace glidemate::host {

// The services behind the phone's commands, owned by the host server for
// its life. Each is built by the program for the desktop it runs on (or by
// a test, with fakes); one that this desktop cannot offer stays empty, and
// its commands are answered with a fixed "not available" sentence.
struct HostServices {
  std::unique_ptr<AppCatalogService> catalog;
  std::unique_ptr<PowerService> power;
  std::unique_ptr<ShortcutsService> shortcuts;
  std::unique_ptr<TrackpadDragModeService> dragMode;

  // The settings a phone mirrors, sent to it first thing after its
  // handshake: three-finger drag, then keep-awake.
  std::vector<Event> mirroredSettings() const;
};

}  // namespace glidemate::host
