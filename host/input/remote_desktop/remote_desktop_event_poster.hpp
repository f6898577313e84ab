#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "host/input/event_poster.hpp"
#include "host/input/remote_desktop/keyboard_layout.hpp"
#include "host/input/remote_desktop/remote_desktop_session.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// Posts input through a desktop's remote-desktop session: the poster for
// Wayland desktops that offer one (GNOME directly, others through the
// desktop portal).
//
// - Pointer: when the session's stream reported where the pointer was as a
//   gesture started, the host's idea of it is the real one, so each move of
//   that gesture places the pointer exactly where the input service put it
//   (its clamp included). Otherwise moves are relative, so a pointer moved
//   by a mouse in between is not pulled back, and the desktop keeps the
//   pointer on its monitors.
// - Buttons are Linux button codes; clients count multiple clicks.
// - Scrolling is smooth finger scrolling in points; the end of a gesture or
//   of its momentum carries the finish mark.
// - Keys that type no character go by key code; characters by keysym when
//   the layout has them, and otherwise as a Unicode entry (Ctrl+Shift+U,
//   the code point in hex, space), which GTK and Qt applications take.
// - Secure input cannot be detected, so it is never reported. The cursor
//   cannot be hidden: while it would be, the session is asked to track the
//   pointer from where this poster last put it, so that the laser dot
//   drawn over it knows where it is.
class RemoteDesktopEventPoster final : public EventPoster {
 public:
  // `layout` may be null: characters outside ASCII then go as Unicode
  // entries.
  RemoteDesktopEventPoster(RemoteDesktopSession& session, const KeyboardLayout* layout, Logger& logger);

  std::optional<EventSource> createSource(EventSourceStateId stateId) override;
  std::optional<ScreenPoint> cursorLocation() override;
  void post(const InputEvent& event, EventTapLocation tap) override;
  std::optional<std::vector<ScreenRect>> activeDisplayBounds() override;
  std::optional<double> mainDisplayRefreshRate() override;
  std::chrono::duration<double> doubleClickInterval() override;
  bool isSecureEventInputEnabled() override { return false; }
  void hideCursor() override;
  void showCursor() override;

 private:
  bool ready();
  void followSession();
  void postMouse(const MouseEvent& e);
  void moveTo(const MouseEvent& e);
  void postScroll(const ScrollWheelEvent& e);
  void postKeyboard(const KeyboardEvent& e);
  void postSystemDefined(const SystemDefinedEvent& e);
  void typeCharacter(char32_t c);
  void typeUnicodeEntry(char32_t c);
  void tapKeysym(std::uint32_t keysym);
  bool layoutTypes(std::uint32_t keysym) const;

  RemoteDesktopSession& session_;
  const KeyboardLayout* layout_;
  Logger& logger_;
  // Where this poster last put the pointer, in the session it spoke to.
  std::optional<ScreenPoint> placed_;
  // Whether the gesture under way started from the place the session's
  // stream reported.
  bool placeByStream_ = false;
  std::uint64_t generation_ = 0;
  bool refusalLogged_ = false;
  bool entryUnavailableLogged_ = false;
  // Modifier keys (by virtual key) held down by posted events.
  std::set<std::uint16_t> heldModifiers_;
};

}  // namespace glidemate::host
