// Test helper: an X client that draws known colours on the root window,
// lays out XRandR monitors, moves the pointer, sets the cursor and counts
// the server's clients, so that tests can check what a capture of the
// screen sees.
#pragma once

#include <cstdint>
#include <string>

namespace glidemate::testing {

class XPainter {
 public:
  // Throws std::runtime_error when the display does not open.
  explicit XPainter(const std::string& displayName);
  ~XPainter();
  XPainter(const XPainter&) = delete;
  XPainter& operator=(const XPainter&) = delete;

  // Each returns once the server has done it.
  void fill(int x, int y, int width, int height, std::uint32_t rgb);  // 0xRRGGBB
  // A picture of 0x00RRGGBB pixels, row by row.
  void draw(int x, int y, int width, int height, const std::uint32_t* pixels);
  void setMonitor(const std::string& name, int x, int y, int width, int height);
  void deleteMonitor(const std::string& name);
  void warpPointer(int x, int y);
  // A square cursor of one colour with its hot spot in the middle.
  void useSquareCursor(int size, std::uint32_t rgb);
  // How many clients the server has, this one included.
  int clientCount();

 private:
  void sync();
  std::string displayName_;
  struct Connection;
  Connection* connection_;
};

}  // namespace glidemate::testing
