// Test helper: the pixels of a part of an X screen, as the server's image
// requests give them (without the cursor), or as the screen file of an
// Xvfb started with XvfbDisplay::Options::screenFile holds them (with the
// cursor, which Xvfb draws into the screen).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace glidemate::host::testing {

struct ScreenArea {
  int width = 0;
  int height = 0;
  // 0xRRGGBB, row after row.
  std::vector<std::uint32_t> pixels;

  std::uint32_t at(int x, int y) const { return pixels.at(static_cast<std::size_t>(y * width + x)); }
  // Writes the area as a PNG image.
  void savePng(const std::string& path) const;
  bool operator==(const ScreenArea&) const = default;
};

// Throws std::runtime_error when the display does not open.
ScreenArea screenshot(const std::string& displayName, int x, int y, int width, int height);
// Throws std::runtime_error when the file is not a 32-bit XWD screen.
ScreenArea screenFileArea(const std::string& path, int x, int y, int width, int height);

// Whether the cursor shows around (x, y) on a server started with a screen
// file. The test windows' crosshair cursor is the only black thing there is:
// the windows are light and the laser dot bright. (The server's own images
// leave the cursor out, but taking one also takes it off the screen for a
// moment.)
bool cursorShowsAt(const std::string& screenFile, int x, int y);

// The mapped top-level windows whose WM_CLASS class is `className`.
std::vector<unsigned long> windowsOfClass(const std::string& displayName, const std::string& className);

// The colour channels of a pixel.
inline int red(std::uint32_t pixel) { return static_cast<int>((pixel >> 16) & 0xFF); }
inline int green(std::uint32_t pixel) { return static_cast<int>((pixel >> 8) & 0xFF); }
inline int blue(std::uint32_t pixel) { return static_cast<int>(pixel & 0xFF); }

}  // namespace glidemate::host::testing
