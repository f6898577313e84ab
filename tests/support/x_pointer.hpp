// Test helper: where the X server's pointer is, read as a separate client,
// without bringing Xlib's macros into the test file.
#pragma once

#include <string>

namespace glidemate::testing {

struct PointerPosition {
  int x;
  int y;
  bool operator==(const PointerPosition&) const = default;
};

class XPointer {
 public:
  // Throws std::runtime_error when the display does not open.
  explicit XPointer(const std::string& displayName);
  ~XPointer();
  XPointer(const XPointer&) = delete;
  XPointer& operator=(const XPointer&) = delete;

  PointerPosition position();
  void warpTo(PointerPosition p);

 private:
  struct Connection;
  Connection* display_;
};

}  // namespace glidemate::testing
