#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace glidemate::host {

// Keycodes that no key of the keyboard uses, lent out to type keysyms the
// keymap lacks (accents, CJK, emoji, media keys on a bare keymap).
//
// A lent keycode keeps its keysym until it is needed for another one (the
// least recently used goes first) or the pool is destroyed, which restores
// every keycode to nothing. Restoring right after the key press would race
// with the clients: one that reads the keymap after the restore would see
// the wrong character for a press it has not handled yet.
class SpareKeycodePool {
 public:
  explicit SpareKeycodePool(Display* display);
  ~SpareKeycodePool();
  SpareKeycodePool(const SpareKeycodePool&) = delete;
  SpareKeycodePool& operator=(const SpareKeycodePool&) = delete;

  // A keycode that types `keysym` without modifiers; nothing if the
  // keyboard has no spare keycode at all.
  std::optional<KeyCode> keycodeFor(KeySym keysym);
  std::size_t size() const { return slots_.size(); }

 private:
  struct Slot {
    KeyCode keycode;
    KeySym keysym;
    std::uint64_t lastUse;
  };

  Display* display_;
  std::vector<Slot> slots_;
  std::uint64_t uses_ = 0;
};

}  // namespace glidemate::host
