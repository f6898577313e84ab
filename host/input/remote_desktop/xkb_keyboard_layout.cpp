#include "host/input/remote_desktop/xkb_keyboard_layout.hpp"

#include <xkbcommon/xkbcommon.h>

#include <stdexcept>

namespace glidemate::host {

struct XkbKeyboardLayout::Keymap {
  xkb_context* context = nullptr;
  xkb_keymap* keymap = nullptr;
  ~Keymap() {
    if (keymap != nullptr) xkb_keymap_unref(keymap);
    if (context != nullptr) xkb_context_unref(context);
  }

  // The level of the first key that types `keysym` in the first group,
  // searched as GNOME does: keycodes upwards, then levels upwards.
  std::optional<xkb_level_index_t> levelOf(xkb_keysym_t keysym) const {
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code < last; ++code) {
      const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, code, 0);
      for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms);
        for (int i = 0; i < count; ++i) {
          if (syms[i] == keysym) return level;
        }
      }
    }
    return std::nullopt;
  }
};

namespace {

xkb_context* newContext() {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (context == nullptr) throw std::invalid_argument("xkbcommon could not start");
  // A keymap that does not compile is reported by the exception alone.
  xkb_context_set_log_level(context, XKB_LOG_LEVEL_CRITICAL);
  return context;
}

}  // namespace

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::fromKeymap(const std::string& text) {
  auto keymap = std::make_unique<Keymap>();
  keymap->context = newContext();
  keymap->keymap = xkb_keymap_new_from_string(keymap->context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                              XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap->keymap == nullptr) throw std::invalid_argument("the desktop's keymap does not compile");
  return std::unique_ptr<XkbKeyboardLayout>(new XkbKeyboardLayout(std::move(keymap)));
}

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::fromNames(const std::string& layout, const std::string& variant) {
  auto keymap = std::make_unique<Keymap>();
  keymap->context = newContext();
  const xkb_rule_names names{"evdev", "pc105", layout.c_str(), variant.c_str(), ""};
  keymap->keymap = xkb_keymap_new_from_names(keymap->context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap->keymap == nullptr) throw std::invalid_argument("unknown keyboard layout " + layout);
  return std::unique_ptr<XkbKeyboardLayout>(new XkbKeyboardLayout(std::move(keymap)));
}

XkbKeyboardLayout::XkbKeyboardLayout(std::unique_ptr<Keymap> keymap) : keymap_(std::move(keymap)) {}

XkbKeyboardLayout::~XkbKeyboardLayout() = default;

std::optional<bool> XkbKeyboardLayout::types(std::uint32_t keysym) const {
  const auto level = keymap_->levelOf(keysym);
  if (!level) return false;
  // The second level is reached with Shift, the third with AltGr, which
  // needs a key that gives it.
  if (*level <= 1) return true;
  return *level == 2 && keymap_->levelOf(XKB_KEY_ISO_Level3_Shift).has_value();
}

}  // namespace glidemate::host
