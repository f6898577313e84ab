#include "host/wlroots/virtual_keymap.hpp"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace glidemate::host {
namespace {

// xkbcommon's key codes are Linux key codes plus 8.
constexpr std::uint32_t evdevOffset = 8;
// Spare keys stay below 256, where X clients under XWayland see them too.
constexpr xkb_keycode_t lastSpareCode = 255;

}  // namespace

struct VirtualKeymap::Xkb {
  xkb_context* context = nullptr;
  xkb_keymap* keymap = nullptr;
  xkb_state* state = nullptr;
  xkb_mod_mask_t shift = 0;
  ~Xkb() {
    if (state != nullptr) xkb_state_unref(state);
    if (keymap != nullptr) xkb_keymap_unref(keymap);
    if (context != nullptr) xkb_context_unref(context);
  }

  // Whether `level` of `code` is reached with exactly `mask` held.
  bool levelHasMask(xkb_keycode_t code, xkb_level_index_t level, xkb_mod_mask_t mask) const {
    xkb_mod_mask_t masks[16];
    const std::size_t count = xkb_keymap_key_get_mods_for_level(keymap, code, 0, level, masks, std::size(masks));
    return std::find(masks, masks + count, mask) != masks + count;
  }

  // The first key of the layout that types `keysym` bare or with Shift.
  std::optional<Press> find(xkb_keysym_t keysym) const {
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= last; ++code) {
      const xkb_level_index_t levels = std::min<xkb_level_index_t>(xkb_keymap_num_levels_for_key(keymap, code, 0), 2);
      for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms);
        if (count != 1 || syms[0] != keysym) continue;
        if (levelHasMask(code, level, level == 0 ? 0 : shift)) return Press{code - evdevOffset, level == 1};
      }
    }
    return std::nullopt;
  }
};

VirtualKeymap::VirtualKeymap() : xkb_(std::make_unique<Xkb>()) {
  xkb_->context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (xkb_->context == nullptr) throw std::runtime_error("xkbcommon could not start");
  const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  xkb_->keymap = xkb_keymap_new_from_names(xkb_->context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (xkb_->keymap == nullptr) throw std::runtime_error("xkbcommon has no US keyboard layout");
  xkb_->state = xkb_state_new(xkb_->keymap);
  if (xkb_->state == nullptr) throw std::runtime_error("xkbcommon could not follow the keyboard's state");
  xkb_->shift = 1u << xkb_keymap_mod_get_index(xkb_->keymap, XKB_MOD_NAME_SHIFT);

  char* text = xkb_keymap_get_as_string(xkb_->keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  if (text == nullptr) throw std::runtime_error("xkbcommon could not write the keymap");
  baseText_ = text;
  std::free(text);
  text_ = baseText_;

  const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(xkb_->keymap), lastSpareCode);
  for (xkb_keycode_t code = xkb_keymap_min_keycode(xkb_->keymap); code <= last; ++code) {
    if (xkb_keymap_key_get_name(xkb_->keymap, code) != nullptr && xkb_keymap_num_levels_for_key(xkb_->keymap, code, 0) == 0) {
      spareKeys_.push_back(code - evdevOffset);
    }
  }
}

VirtualKeymap::~VirtualKeymap() = default;

std::optional<VirtualKeymap::Press> VirtualKeymap::pressFor(std::uint32_t keysym) {
  if (keysym == XKB_KEY_NoSymbol) return std::nullopt;
  if (const auto press = xkb_->find(keysym)) return press;
  if (spareKeys_.empty()) return std::nullopt;
  if (const auto it = spareKeyOf_.find(keysym); it != spareKeyOf_.end()) {
    // Used again: last in line to be given away.
    spareUse_.erase(std::find(spareUse_.begin(), spareUse_.end(), keysym));
    spareUse_.push_back(keysym);
    return Press{it->second, false};
  }
  std::uint32_t key = 0;
  if (spareKeyOf_.size() < spareKeys_.size()) {
    key = spareKeys_[spareKeyOf_.size()];
  } else {
    const std::uint32_t oldest = spareUse_.front();
    spareUse_.pop_front();
    key = spareKeyOf_.at(oldest);
    spareKeyOf_.erase(oldest);
  }
  spareKeyOf_[keysym] = key;
  spareUse_.push_back(keysym);
  rebuildText();
  return Press{key, false};
}

void VirtualKeymap::rebuildText() {
  // The symbols section comes last: its closing brace is the one before
  // the keymap's own.
  const auto keymapEnd = baseText_.rfind("};");
  const auto symbolsEnd = baseText_.rfind("};", keymapEnd - 1);
  std::string keys;
  for (const auto& [keysym, key] : spareKeyOf_) {
    char name[64];
    xkb_keysym_get_name(keysym, name, sizeof name);
    keys += std::string("\tkey <") + xkb_keymap_key_get_name(xkb_->keymap, key + evdevOffset) + "> { [ " + name +
            " ] };\n";
  }
  text_ = baseText_.substr(0, symbolsEnd) + keys + baseText_.substr(symbolsEnd);
  ++revision_;
}

void VirtualKeymap::updateKey(std::uint32_t key, bool pressed) {
  xkb_state_update_key(xkb_->state, key + evdevOffset, pressed ? XKB_KEY_DOWN : XKB_KEY_UP);
}

void VirtualKeymap::releaseAll() {
  xkb_state* fresh = xkb_state_new(xkb_->keymap);
  if (fresh == nullptr) return;
  xkb_state_unref(xkb_->state);
  xkb_->state = fresh;
}

VirtualKeymap::Modifiers VirtualKeymap::modifiers() const {
  return {
      static_cast<std::uint32_t>(xkb_state_serialize_mods(xkb_->state, XKB_STATE_MODS_DEPRESSED)),
      static_cast<std::uint32_t>(xkb_state_serialize_mods(xkb_->state, XKB_STATE_MODS_LATCHED)),
      static_cast<std::uint32_t>(xkb_state_serialize_mods(xkb_->state, XKB_STATE_MODS_LOCKED)),
      static_cast<std::uint32_t>(xkb_state_serialize_layout(xkb_->state, XKB_STATE_LAYOUT_EFFECTIVE)),
  };
}

std::uint32_t VirtualKeymap::shiftMask() const { return xkb_->shift; }

}  // namespace glidemate::host
