#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// The keymap of the host's own virtual keyboard, with the modifier state
// its keys make. It starts as the US layout; a keysym that layout lacks is
// put on a spare key (one the layout leaves empty), which changes the
// keymap's text, so that every character can be typed. When every spare
// key is taken, the one used longest ago is given the new keysym.
class VirtualKeymap {
 public:
  // Throws std::runtime_error when xkbcommon cannot build the US layout.
  VirtualKeymap();
  ~VirtualKeymap();
  VirtualKeymap(const VirtualKeymap&) = delete;
  VirtualKeymap& operator=(const VirtualKeymap&) = delete;

  // A key that types a keysym: a Linux key code, with Shift or without.
  struct Press {
    std::uint32_t key = 0;
    bool shift = false;
    bool operator==(const Press&) const = default;
  };
  // Where `keysym` is typed; nothing for NoSymbol.
  std::optional<Press> pressFor(std::uint32_t keysym);

  // The keymap in xkbcommon's text form, and a count that changes with it.
  const std::string& text() const { return text_; }
  std::uint64_t revision() const { return revision_; }

  struct Modifiers {
    std::uint32_t depressed = 0;
    std::uint32_t latched = 0;
    std::uint32_t locked = 0;
    std::uint32_t group = 0;
    bool operator==(const Modifiers&) const = default;
  };
  // Follows a key of the keymap going down or up.
  void updateKey(std::uint32_t key, bool pressed);
  // Every key up, as on a keyboard just plugged in.
  void releaseAll();
  Modifiers modifiers() const;
  std::uint32_t shiftMask() const;

 private:
  struct Xkb;
  void rebuildText();

  std::unique_ptr<Xkb> xkb_;
  std::string baseText_;
  std::string text_;
  std::uint64_t revision_ = 0;
  // Key codes the layout leaves empty, and the keysyms given to them, the
  // one used last at the back.
  std::vector<std::uint32_t> spareKeys_;
  std::map<std::uint32_t, std::uint32_t> spareKeyOf_;  // keysym -> key
  std::deque<std::uint32_t> spareUse_;                 // keysyms
};

}  // namespace glidemate::host
