#pragma once

#include <memory>
#include <string>

#include "host/input/remote_desktop/keyboard_layout.hpp"

namespace glidemate::host {

// A keyboard layout read with xkbcommon, answering as GNOME's remote
// desktop picks keys: the first key of the first layout group that has the
// keysym, on the lowest level; levels above AltGr are out of reach.
class XkbKeyboardLayout final : public KeyboardLayout {
 public:
  // A keymap in xkbcommon's text form, as Wayland compositors send it.
  // Throws std::invalid_argument when it does not compile.
  static std::unique_ptr<XkbKeyboardLayout> fromKeymap(const std::string& text);
  // The keymap of a layout by its XKB names ("fr", "us" with variant
  // "dvorak"). Throws std::invalid_argument for an unknown layout.
  static std::unique_ptr<XkbKeyboardLayout> fromNames(const std::string& layout, const std::string& variant = {});

  ~XkbKeyboardLayout() override;
  XkbKeyboardLayout(const XkbKeyboardLayout&) = delete;
  XkbKeyboardLayout& operator=(const XkbKeyboardLayout&) = delete;

  std::optional<bool> types(std::uint32_t keysym) const override;

 private:
  struct Keymap;
  explicit XkbKeyboardLayout(std::unique_ptr<Keymap> keymap);
  std::unique_ptr<Keymap> keymap_;
};

}  // namespace glidemate::host
