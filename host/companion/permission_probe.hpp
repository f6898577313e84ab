#pragma once

#include <string>

namespace glidemate::host {

// What the desktop lets the host do, asked afresh on every call. The host
// needs to post input (the pointer, keys), to capture the screen (the
// preview) and to reach desktop services over the session bus.
class PermissionProbe {
 public:
  struct Check {
    bool allowed = false;
    // When not allowed: why, and what would change it, in a sentence or two.
    std::string why;
    bool operator==(const Check&) const = default;
  };

  virtual ~PermissionProbe() = default;
  virtual Check input() = 0;
  virtual Check capture() = 0;
  virtual Check sessionBus() = 0;
};

}  // namespace glidemate::host
