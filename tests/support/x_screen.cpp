#include "tests/support/x_screen.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace glidemate::host::testing {
namespace {

std::uint32_t bigEndian(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
         bytes[3];
}

}  // namespace

void ScreenArea::savePng(const std::string& path) const {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    std::memcpy(data + y * stride, &pixels[static_cast<std::size_t>(y * width)], static_cast<std::size_t>(width) * 4);
  }
  cairo_surface_mark_dirty(surface);
  const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cannot write " + path);
}

ScreenArea screenshot(const std::string& displayName, int x, int y, int width, int height) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot open display " + displayName);
  XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  ScreenArea area{width, height, {}};
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      area.pixels.push_back(static_cast<std::uint32_t>(XGetPixel(image, column, row) & 0xFFFFFF));
    }
  }
  XDestroyImage(image);
  XCloseDisplay(display);
  return area;
}

ScreenArea screenFileArea(const std::string& path, int x, int y, int width, int height) {
  std::ifstream file(path, std::ios::binary);
  // The XWD header: 25 big-endian 32-bit fields, then the window name.
  unsigned char header[100];
  if (!file.read(reinterpret_cast<char*>(header), sizeof header)) throw std::runtime_error("cannot read " + path);
  const auto field = [&](int i) { return bigEndian(header + 4 * i); };
  const std::uint32_t headerSize = field(0), byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12);
  const std::uint32_t colours = field(19);
  if (bitsPerPixel != 32 || byteOrder != LSBFirst) throw std::runtime_error(path + " is not a 32-bit screen");
  const std::streamoff start = headerSize + colours * 12;  // each colour entry is 12 bytes
  ScreenArea area{width, height, {}};
  std::vector<unsigned char> line(static_cast<std::size_t>(width) * 4);
  for (int row = 0; row < height; ++row) {
    file.seekg(start + static_cast<std::streamoff>(y + row) * bytesPerLine + static_cast<std::streamoff>(x) * 4);
    file.read(reinterpret_cast<char*>(line.data()), static_cast<std::streamsize>(line.size()));
    for (int column = 0; column < width; ++column) {
      const unsigned char* p = &line[static_cast<std::size_t>(column) * 4];
      area.pixels.push_back(std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16));
    }
  }
  return area;
}

bool cursorShowsAt(const std::string& screenFile, int x, int y) {
  const ScreenArea area = screenFileArea(screenFile, x - 12, y - 12, 24, 24);
  return std::any_of(area.pixels.begin(), area.pixels.end(),
                     [](std::uint32_t p) { return red(p) < 0x40 && green(p) < 0x40 && blue(p) < 0x40; });
}

std::vector<unsigned long> windowsOfClass(const std::string& displayName, const std::string& className) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot open display " + displayName);
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
  std::vector<unsigned long> found;
  for (unsigned i = 0; i < count; ++i) {
    XClassHint hint{};
    if (XGetClassHint(display, children[i], &hint) == 0) continue;
    const bool named = className == hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
    XWindowAttributes attributes{};
    if (named && XGetWindowAttributes(display, children[i], &attributes) != 0 &&
        attributes.map_state == IsViewable) {
      found.push_back(children[i]);
    }
  }
  if (children != nullptr) XFree(children);
  XCloseDisplay(display);
  return found;
}

}  // namespace glidemate::host::testing
