#include "tests/support/x_painter.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace glidemate::testing {

struct XPainter::Connection {
  xcb_connection_t* c;
  xcb_window_t root;
  xcb_gcontext_t gc;
};

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

xcb_atom_t atom(xcb_connection_t* c, const std::string& name) {
  std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
  if (!reply) throw std::runtime_error("cannot intern " + name);
  return reply->atom;
}

void check(xcb_connection_t* c, xcb_void_cookie_t cookie, const char* what) {
  std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(xcb_request_check(c, cookie));
  if (error) throw std::runtime_error(std::string(what) + " failed with X error " + std::to_string(error->error_code));
}

}  // namespace

XPainter::XPainter(const std::string& displayName) : displayName_(displayName), connection_(new Connection{}) {
  connection_->c = xcb_connect(displayName.c_str(), nullptr);
  if (xcb_connection_has_error(connection_->c) != 0) {
    xcb_disconnect(connection_->c);
    delete connection_;
    throw std::runtime_error("cannot open display " + displayName);
  }
  connection_->root = xcb_setup_roots_iterator(xcb_get_setup(connection_->c)).data->root;
  connection_->gc = xcb_generate_id(connection_->c);
  xcb_create_gc(connection_->c, connection_->gc, connection_->root, 0, nullptr);
  std::unique_ptr<xcb_randr_query_version_reply_t, FreeDeleter> randr(
      xcb_randr_query_version_reply(connection_->c, xcb_randr_query_version(connection_->c, 1, 5), nullptr));
  std::unique_ptr<xcb_res_query_version_reply_t, FreeDeleter> res(
      xcb_res_query_version_reply(connection_->c, xcb_res_query_version(connection_->c, 1, 2), nullptr));
}

XPainter::~XPainter() {
  xcb_disconnect(connection_->c);
  delete connection_;
}

void XPainter::sync() {
  std::free(xcb_get_input_focus_reply(connection_->c, xcb_get_input_focus(connection_->c), nullptr));
}

void XPainter::fill(int x, int y, int width, int height, std::uint32_t rgb) {
  // A depth-24 TrueColor root takes 0xRRGGBB as its pixel value.
  xcb_change_gc(connection_->c, connection_->gc, XCB_GC_FOREGROUND, &rgb);
  const xcb_rectangle_t area{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                             static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)};
  check(connection_->c, xcb_poly_fill_rectangle_checked(connection_->c, connection_->root, connection_->gc, 1, &area),
        "PolyFillRectangle");
}

void XPainter::draw(int x, int y, int width, int height, const std::uint32_t* pixels) {
  // In bands small enough for one request each.
  const int rowsPerRequest = std::max(1, 200'000 / (width * 4));
  for (int row = 0; row < height; row += rowsPerRequest) {
    const int rows = std::min(rowsPerRequest, height - row);
    xcb_put_image(connection_->c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection_->root, connection_->gc,
                  static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(rows), static_cast<std::int16_t>(x),
                  static_cast<std::int16_t>(y + row), 0, 24, static_cast<std::uint32_t>(rows * width * 4),
                  reinterpret_cast<const std::uint8_t*>(pixels + static_cast<std::size_t>(row) * width));
  }
  sync();
}

void XPainter::setMonitor(const std::string& name, int x, int y, int width, int height) {
  // Through Xlib: XCB 1.15 builds this request wrongly for a monitor
  // without outputs. Monitors stay with the server after the client goes.
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(displayName_.c_str()), XCloseDisplay);
  if (!display) throw std::runtime_error("cannot open display " + displayName_);
  std::unique_ptr<XRRMonitorInfo, void (*)(XRRMonitorInfo*)> monitor(XRRAllocateMonitor(display.get(), 0),
                                                                    XRRFreeMonitors);
  monitor->name = XInternAtom(display.get(), name.c_str(), False);
  monitor->x = x;
  monitor->y = y;
  monitor->width = width;
  monitor->height = height;
  monitor->mwidth = width / 4;
  monitor->mheight = height / 4;
  XRRSetMonitor(display.get(), DefaultRootWindow(display.get()), monitor.get());
  XSync(display.get(), False);
}

void XPainter::deleteMonitor(const std::string& name) {
  check(connection_->c, xcb_randr_delete_monitor_checked(connection_->c, connection_->root, atom(connection_->c, name)),
        "DeleteMonitor");
}

void XPainter::warpPointer(int x, int y) {
  check(connection_->c,
        xcb_warp_pointer_checked(connection_->c, XCB_NONE, connection_->root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                                 static_cast<std::int16_t>(y)),
        "WarpPointer");
}

void XPainter::useSquareCursor(int size, std::uint32_t rgb) {
  xcb_connection_t* c = connection_->c;
  // A one-bit picture with every bit set, as both the shape and its mask.
  const xcb_pixmap_t bits = xcb_generate_id(c);
  xcb_create_pixmap(c, 1, bits, connection_->root, static_cast<std::uint16_t>(size), static_cast<std::uint16_t>(size));
  const xcb_gcontext_t pen = xcb_generate_id(c);
  const std::uint32_t one = 1;
  xcb_create_gc(c, pen, bits, XCB_GC_FOREGROUND, &one);
  const xcb_rectangle_t all{0, 0, static_cast<std::uint16_t>(size), static_cast<std::uint16_t>(size)};
  xcb_poly_fill_rectangle(c, bits, pen, 1, &all);
  const xcb_cursor_t cursor = xcb_generate_id(c);
  auto channel = [](std::uint32_t v) { return static_cast<std::uint16_t>((v & 0xff) * 257); };
  xcb_create_cursor(c, cursor, bits, bits, channel(rgb >> 16), channel(rgb >> 8), channel(rgb), 0, 0, 0,
                    static_cast<std::uint16_t>(size / 2), static_cast<std::uint16_t>(size / 2));
  check(c, xcb_change_window_attributes_checked(c, connection_->root, XCB_CW_CURSOR, &cursor), "DefineCursor");
  xcb_free_cursor(c, cursor);
  xcb_free_gc(c, pen);
  xcb_free_pixmap(c, bits);
  sync();
}

int XPainter::clientCount() {
  std::unique_ptr<xcb_res_query_clients_reply_t, FreeDeleter> reply(
      xcb_res_query_clients_reply(connection_->c, xcb_res_query_clients(connection_->c), nullptr));
  if (!reply) throw std::runtime_error("the X server does not list its clients");
  return static_cast<int>(reply->num_clients);
}

}  // namespace glidemate::testing
