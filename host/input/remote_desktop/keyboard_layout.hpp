#pragma once

#include <cstdint>
#include <optional>

namespace glidemate::host {

// The desktop's active keyboard layout, as far as a program outside the
// compositor can learn it. Main executor only.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;

  // Whether the layout has a key that types `keysym` with at most Shift or
  // AltGr held; nothing while the layout is not known.
  virtual std::optional<bool> types(std::uint32_t keysym) const = 0;
};

}  // namespace glidemate::host
