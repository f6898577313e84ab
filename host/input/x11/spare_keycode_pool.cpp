#include "host/input/x11/spare_keycode_pool.hpp"

#include <algorithm>
#include <array>

#include "host/x11/x11_error_trap.hpp"

namespace glidemate::host {

SpareKeycodePool::SpareKeycodePool(Display* display) : display_(display) {
  int minKeycode = 0, maxKeycode = 0;
  XDisplayKeycodes(display_, &minKeycode, &maxKeycode);
  int perKeycode = 0;
  KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1,
                                    &perKeycode);
  if (map == nullptr) return;
  for (int code = minKeycode; code <= maxKeycode; ++code) {
    const KeySym* syms = map + static_cast<std::ptrdiff_t>(code - minKeycode) * perKeycode;
    if (std::all_of(syms, syms + perKeycode, [](KeySym s) { return s == NoSymbol; })) {
      slots_.push_back({static_cast<KeyCode>(code), NoSymbol, 0});
    }
  }
  XFree(map);
}

SpareKeycodePool::~SpareKeycodePool() {
  X11ErrorTrap trap(display_);
  for (const auto& slot : slots_) {
    if (slot.keysym == NoSymbol) continue;
    std::array<KeySym, 2> none{NoSymbol, NoSymbol};
    XChangeKeyboardMapping(display_, slot.keycode, 2, none.data(), 1);
  }
}

std::optional<KeyCode> SpareKeycodePool::keycodeFor(KeySym keysym) {
  if (slots_.empty()) return std::nullopt;
  ++uses_;
  for (auto& slot : slots_) {
    if (slot.keysym == keysym) {
      slot.lastUse = uses_;
      return slot.keycode;
    }
  }
  auto& slot = *std::min_element(slots_.begin(), slots_.end(),
                                 [](const Slot& a, const Slot& b) { return a.lastUse < b.lastUse; });
  // Both levels carry the keysym, so a held Shift or Caps Lock can't change
  // the character.
  std::array<KeySym, 2> syms{keysym, keysym};
  XChangeKeyboardMapping(display_, slot.keycode, 2, syms.data(), 1);
  slot.keysym = keysym;
  slot.lastUse = uses_;
  return slot.keycode;
}

}  // namespace glidemate::host
