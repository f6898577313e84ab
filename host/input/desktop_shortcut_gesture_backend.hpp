#pragma once

#include <cstdint>
#include <optional>

#include "host/input/event_poster.hpp"
#include "host/input/gesture_backend.hpp"

namespace glidemate::host {

// Presses the usual Linux desktop shortcut for each gesture through the
// event poster. The keys are given as virtual key codes and flags, which the
// X11 poster maps with command -> Control, option -> Alt, control -> Super:
//
//   missionControl, appExpose, spotlight  Super alone: the activities overview,
//                                         whose search field has focus (GNOME;
//                                         KDE Plasma and Cinnamon open their
//                                         launcher or overview)
//   spaceLeft / spaceRight               Ctrl+Alt+Left / Ctrl+Alt+Right:
//                                         workspace left / right (GNOME, Xfce,
//                                         Cinnamon, MATE)
//   back / forward                       Alt+Left / Alt+Right (browsers, file
//                                         managers)
//   escape                               Escape
class DesktopShortcutGestureBackend final : public GestureBackend {
 public:
  struct Shortcut {
    std::uint16_t keyCode;
    std::uint64_t flags;
    bool operator==(const Shortcut&) const = default;
  };

  explicit DesktopShortcutGestureBackend(EventPoster& poster);

  void perform(SystemGesture gesture) override;

  static Shortcut shortcut(SystemGesture gesture);

 private:
  EventPoster& poster_;
  std::optional<EventSource> source_;
};

}  // namespace glidemate::host
