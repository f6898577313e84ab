#include "host/input/x11/x11_laser_overlay.hpp"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrender.h>
#include <X11/extensions/shapeconst.h>
#include <cairo-xlib.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/input/cairo/laser_dot_painter.hpp"
#include "host/x11/x11_error.hpp"

namespace glidemate::host {
namespace {

constexpr double centre = X11LaserOverlay::size / 2.0;
constexpr double dotRadius = LaserDotPainter::dotRadius;

// A 32-bit visual with an alpha channel, if the server has one and a
// compositing manager blends such windows with what is below them (without
// one, the server paints their transparent parts black).
Visual* blendedVisual(X11DesktopConnection& connection) {
  Display* display = connection.display();
  const std::string manager = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
  if (XGetSelectionOwner(display, connection.atom(manager)) == 0) return nullptr;
  XVisualInfo wanted{};
  wanted.screen = DefaultScreen(display);
  wanted.depth = 32;
  wanted.c_class = TrueColor;
  int count = 0;
  XVisualInfo* infos =
      XGetVisualInfo(display, VisualScreenMask | VisualDepthMask | VisualClassMask, &wanted, &count);
  Visual* found = nullptr;
  for (int i = 0; i < count && found == nullptr; ++i) {
    const XRenderPictFormat* format = XRenderFindVisualFormat(display, infos[i].visual);
    if (format != nullptr && format->type == PictTypeDirect && format->direct.alphaMask != 0) found = infos[i].visual;
  }
  if (infos != nullptr) XFree(infos);
  return found;
}

class X11LaserWindow final : public LaserWindow {
 public:
  X11LaserWindow(std::shared_ptr<X11DesktopConnection> connection, LaserColor color, ScreenPoint point)
      : connection_(std::move(connection)), display_(connection_->display()), color_(color) {
    Visual* visual = blendedVisual(*connection_);
    hasAlpha_ = visual != nullptr;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask;
    unsigned long mask = CWOverrideRedirect | CWEventMask;
    int depth = CopyFromParent;
    if (hasAlpha_) {
      colormap_ = XCreateColormap(display_, connection_->root(), visual, AllocNone);
      attributes.colormap = colormap_;
      attributes.background_pixel = 0;  // transparent until drawn
      attributes.border_pixel = 0;
      mask |= CWColormap | CWBackPixel | CWBorderPixel;
      depth = 32;
    } else {
      visual = DefaultVisual(display_, DefaultScreen(display_));
    }
    position_ = origin(point);
    window_ = XCreateWindow(display_, connection_->root(), position_.first, position_.second, X11LaserOverlay::size,
                            X11LaserOverlay::size, 0, depth, InputOutput, visual, mask, &attributes);
    XClassHint hint{const_cast<char*>("glidemate-laser"), const_cast<char*>("Glidemate")};
    XSetClassHint(display_, window_, &hint);
    XStoreName(display_, window_, "Glidemate laser pointer");

    // Clicks go through to the window below.
    const XserverRegion none = XFixesCreateRegion(display_, nullptr, 0);
    XFixesSetWindowShapeRegion(display_, window_, ShapeInput, 0, 0, none);
    XFixesDestroyRegion(display_, none);
    if (!hasAlpha_) shapeToDot();

    surface_ = cairo_xlib_surface_create(display_, window_, visual, X11LaserOverlay::size, X11LaserOverlay::size);
    events_ = connection_->subscribe(window_, [this](const XEvent& event) {
      if (event.type == Expose && event.xexpose.count == 0) draw();
    });
    XMapRaised(display_, window_);
    draw();
  }

  ~X11LaserWindow() override {
    events_.reset();
    cairo_surface_destroy(surface_);
    XDestroyWindow(display_, window_);
    if (colormap_ != 0) XFreeColormap(display_, colormap_);
    connection_->flush();
  }

  X11LaserWindow(const X11LaserWindow&) = delete;
  X11LaserWindow& operator=(const X11LaserWindow&) = delete;

  void setColor(LaserColor color) override {
    color_ = color;
    draw();
  }

  void moveTo(ScreenPoint point) override {
    XWindowChanges changes{};
    unsigned mask = CWStackMode;
    // Raised every time: a window that went full screen since the last
    // move may have been stacked over the dot.
    changes.stack_mode = Above;
    if (const auto position = origin(point); position != position_) {
      position_ = position;
      changes.x = position.first;
      changes.y = position.second;
      mask |= CWX | CWY;
    }
    XConfigureWindow(display_, window_, mask, &changes);
    connection_->flush();
  }

 private:
  static std::pair<int, int> origin(ScreenPoint point) {
    // Root coordinates are 16-bit in the protocol.
    const auto coordinate = [](double value) {
      if (!std::isfinite(value)) return 0;
      return static_cast<int>(std::lround(std::clamp(value - centre, -32768.0, 32767.0)));
    };
    return {coordinate(point.x), coordinate(point.y)};
  }

  void shapeToDot() {
    std::vector<XRectangle> rows;
    for (int y = 0; y < X11LaserOverlay::size; ++y) {
      const double dy = y + 0.5 - centre;
      if (std::abs(dy) >= dotRadius) continue;
      const double half = std::sqrt(dotRadius * dotRadius - dy * dy);
      const auto left = static_cast<short>(std::lround(centre - half));
      const auto right = static_cast<short>(std::lround(centre + half));
      rows.push_back({left, static_cast<short>(y), static_cast<unsigned short>(right - left), 1});
    }
    const XserverRegion dot = XFixesCreateRegion(display_, rows.data(), static_cast<int>(rows.size()));
    XFixesSetWindowShapeRegion(display_, window_, ShapeBounding, 0, 0, dot);
    XFixesDestroyRegion(display_, dot);
  }

  void draw() {
    cairo_t* cr = cairo_create(surface_);
    LaserDotPainter::paint(cr, color_, hasAlpha_);
    cairo_destroy(cr);
    cairo_surface_flush(surface_);
    connection_->flush();
  }

  std::shared_ptr<X11DesktopConnection> connection_;
  Display* display_;
  LaserColor color_;
  bool hasAlpha_ = false;
  Colormap colormap_ = 0;
  ::Window window_ = 0;
  std::pair<int, int> position_;
  cairo_surface_t* surface_ = nullptr;
  X11DesktopConnection::Subscription events_;
};

}  // namespace

X11LaserOverlay::X11LaserOverlay(std::shared_ptr<X11DesktopConnection> connection)
    : connection_(std::move(connection)) {
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XFixesQueryExtension(connection_->display(), &eventBase, &errorBase) ||
      !XFixesQueryVersion(connection_->display(), &major, &minor) || major < 2) {
    throw X11Error::missingExtension("XFIXES");
  }
}

std::unique_ptr<LaserWindow> X11LaserOverlay::open(LaserColor color, ScreenPoint centrePoint) {
  return std::make_unique<X11LaserWindow>(connection_, color, centrePoint);
}

}  // namespace glidemate::host
