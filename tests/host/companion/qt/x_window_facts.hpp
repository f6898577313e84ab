// Test helper: what the X server says about a window, read over a
// connection of the test's own (Xlib stays out of the test files).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host::testing {

class XWindowFacts {
 public:
  explicit XWindowFacts(const std::string& displayName);
  ~XWindowFacts();
  XWindowFacts(const XWindowFacts&) = delete;
  XWindowFacts& operator=(const XWindowFacts&) = delete;

  struct Point {
    int x;
    int y;
  };
  // The window's top-left corner on the root window.
  Point position(std::uint64_t window);
  // The window that has the keyboard focus.
  std::uint64_t inputFocus();
  // The atoms named in its _NET_WM_STATE.
  std::vector<std::string> netWmState(std::uint64_t window);
  std::optional<std::uint32_t> desktop(std::uint64_t window);
  // Its WM_HINTS input field (true when it has none).
  bool acceptsFocus(std::uint64_t window);

 private:
  struct Connection;
  Connection* connection_;
};

}  // namespace glidemate::host::testing
