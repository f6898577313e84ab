#include "host/services/screen_preview/x11/x11_screen_capture.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/services/screen_preview/preview_layout.hpp"
#include "host/services/screen_preview/screen_capture_error.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "preview";

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

std::string describe(const PixelRect& r) {
  return std::to_string(r.width) + "×" + std::to_string(r.height) + " at " + std::to_string(r.x) + "," +
         std::to_string(r.y);
}

// The first event code of an extension, when the server has it.
std::optional<std::uint8_t> extensionEvents(xcb_connection_t* c, xcb_extension_t* extension) {
  const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
  if (data == nullptr || data->present == 0) return std::nullopt;
  return data->first_event;
}

// A shared memory segment the server writes frames into.
struct SharedBuffer {
  xcb_shm_seg_t segment = 0;
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

}  // namespace

struct X11ScreenCapture::Link {
  xcb_connection_t* connection = nullptr;
  xcb_window_t root = 0;
  Logger* log = nullptr;
  std::uint8_t damageEvents = 0;
  std::optional<std::uint8_t> randrEvents;
  std::optional<std::uint8_t> xfixesEvents;
  xcb_damage_damage_t damage = 0;

  std::vector<PixelRect> monitors;
  bool monitorsStale = true;
  std::optional<PixelRect> display;
  std::optional<PixelPoint> pointer;  // on the screen, when known
  bool changed = false;
  std::chrono::steady_clock::time_point nextPointerRead{};

  CursorImage cursor;
  bool hasCursor = false;
  bool cursorStale = true;

  bool sharedMemory = false;
  SharedBuffer buffer;
  Reply<xcb_get_image_reply_t> image;  // without shared memory

  ~Link() {
    releaseBuffer();
    if (connection != nullptr) xcb_disconnect(connection);
  }

  bool lost() const { return xcb_connection_has_error(connection) != 0; }
  void throwIfLost() const {
    if (lost()) throw ScreenCaptureError::displayLost();
  }

  void releaseBuffer() {
    if (buffer.data == nullptr) return;
    if (!lost()) xcb_shm_detach(connection, buffer.segment);
    munmap(buffer.data, buffer.size);
    buffer = {};
  }

  // A buffer of at least `size` bytes shared with the server; false (and
  // the reason in `why`) when the server won't share one.
  bool shareBuffer(std::size_t size, std::string& why) {
    if (buffer.size >= size) return true;
    releaseBuffer();
    const int fd = memfd_create("glidemate-preview", MFD_CLOEXEC);
    if (fd < 0) {
      why = std::strerror(errno);
      return false;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      why = std::strerror(errno);
      close(fd);
      return false;
    }
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
      why = std::strerror(errno);
      close(fd);
      return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(connection);
    // XCB closes the descriptor once it has been sent.
    Reply<xcb_generic_error_t> error(
        xcb_request_check(connection, xcb_shm_attach_fd_checked(connection, segment, fd, 0)));
    if (error || lost()) {
      why = "the server refused the segment";
      munmap(mapped, size);
      return false;
    }
    buffer = SharedBuffer{segment, static_cast<std::uint8_t*>(mapped), size};
    return true;
  }

  std::optional<PixelPoint> readPointer() {
    Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
    throwIfLost();
    if (!reply || reply->same_screen == 0) return std::nullopt;
    return PixelPoint{reply->root_x, reply->root_y};
  }

  void loadMonitors() {
    monitorsStale = false;
    monitors.clear();
    if (randrEvents) {
      Reply<xcb_randr_get_monitors_reply_t> reply(
          xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, root, 1), nullptr));
      throwIfLost();
      if (reply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
             xcb_randr_monitor_info_next(&it)) {
          if (it.data->width > 0 && it.data->height > 0) {
            monitors.push_back(PixelRect{it.data->x, it.data->y, it.data->width, it.data->height});
          }
        }
      }
    }
    if (monitors.empty()) {
      Reply<xcb_get_geometry_reply_t> geometry(
          xcb_get_geometry_reply(connection, xcb_get_geometry(connection, root), nullptr));
      throwIfLost();
      if (geometry) monitors.push_back(PixelRect{0, 0, geometry->width, geometry->height});
    }
  }

  void loadCursor() {
    cursorStale = false;
    hasCursor = false;
    if (!xfixesEvents) return;
    Reply<xcb_xfixes_get_cursor_image_reply_t> reply(
        xcb_xfixes_get_cursor_image_reply(connection, xcb_xfixes_get_cursor_image(connection), nullptr));
    throwIfLost();
    if (!reply || reply->width == 0 || reply->height == 0) return;
    const std::uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(reply.get());
    const auto count = static_cast<std::size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(reply.get()));
    cursor.size = {reply->width, reply->height};
    cursor.hotSpot = {reply->xhot, reply->yhot};
    cursor.pixels.assign(pixels, pixels + count);
    hasCursor = true;
  }

  void handle(const xcb_generic_event_t& event) {
    const std::uint8_t type = event.response_type & 0x7f;
    if (type == damageEvents + XCB_DAMAGE_NOTIFY) {
      const auto& notify = reinterpret_cast<const xcb_damage_notify_event_t&>(event);
      const PixelRect area{notify.area.x, notify.area.y, notify.area.width, notify.area.height};
      if (!display || display->intersects(area)) changed = true;
    } else if (xfixesEvents && type == *xfixesEvents + XCB_XFIXES_CURSOR_NOTIFY) {
      cursorStale = true;
      changed = true;
    } else if ((randrEvents && type == *randrEvents + XCB_RANDR_SCREEN_CHANGE_NOTIFY) ||
               (randrEvents && type == *randrEvents + XCB_RANDR_NOTIFY) || type == XCB_CONFIGURE_NOTIFY) {
      monitorsStale = true;
      changed = true;
    }
  }

  void drainEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
      handle(*event);
      std::free(event);
    }
    throwIfLost();
  }
};

X11ScreenCapture::X11ScreenCapture(Options options)
    : options_(std::move(options)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) throw std::runtime_error(std::string("cannot make an event descriptor: ") + std::strerror(errno));
}

X11ScreenCapture::~X11ScreenCapture() {
  link_.reset();
  close(wakeFd_);
}

void X11ScreenCapture::start(Logger& log) {
  stop();
  auto link = std::make_unique<Link>();
  link->log = &log;
  int screenNumber = 0;
  link->connection = xcb_connect(options_.display.empty() ? nullptr : options_.display.c_str(), &screenNumber);
  if (link->lost()) throw ScreenCaptureError::cannotConnect(options_.display);
  xcb_connection_t* c = link->connection;

  const xcb_setup_t* setup = xcb_get_setup(c);
  auto screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) throw ScreenCaptureError::cannotConnect(options_.display);
  const xcb_screen_t& screen = *screens.data;
  link->root = screen.root;

  // Frames are read as they lie in memory: 32 bits per pixel, blue first.
  int bitsPerPixel = 0;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f)) {
    if (f.data->depth == screen.root_depth) bitsPerPixel = f.data->bits_per_pixel;
  }
  const xcb_visualtype_t* visual = nullptr;
  for (auto d = xcb_screen_allowed_depths_iterator(&screen); d.rem > 0 && visual == nullptr; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
      if (v.data->visual_id == screen.root_visual) {
        visual = v.data;
        break;
      }
    }
  }
  if (bitsPerPixel != 32 || visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR ||
      visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff ||
      setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
    throw ScreenCaptureError(ScreenCaptureError::UnsupportedPixelFormat{screen.root_depth, bitsPerPixel});
  }

  xcb_prefetch_extension_data(c, &xcb_damage_id);
  xcb_prefetch_extension_data(c, &xcb_xfixes_id);
  xcb_prefetch_extension_data(c, &xcb_randr_id);
  xcb_prefetch_extension_data(c, &xcb_shm_id);

  // XDamage needs XFixes; without them there is no telling what changed.
  link->xfixesEvents = extensionEvents(c, &xcb_xfixes_id);
  const auto damageEvents = extensionEvents(c, &xcb_damage_id);
  if (!link->xfixesEvents) throw ScreenCaptureError::missingExtension("XFIXES");
  if (!damageEvents) throw ScreenCaptureError::missingExtension("DAMAGE");
  link->damageEvents = *damageEvents;
  Reply<xcb_xfixes_query_version_reply_t> xfixesVersion(
      xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
  Reply<xcb_damage_query_version_reply_t> damageVersion(
      xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
  link->throwIfLost();
  if (!xfixesVersion) throw ScreenCaptureError::missingExtension("XFIXES");
  if (!damageVersion) throw ScreenCaptureError::missingExtension("DAMAGE");
  // Each damaged rectangle is reported once until the damage is taken away
  // at the next grab, so a busy area elsewhere costs one event per frame.
  link->damage = xcb_generate_id(c);
  xcb_damage_create(c, link->damage, link->root, XCB_DAMAGE_REPORT_LEVEL_DELTA_RECTANGLES);
  xcb_xfixes_select_cursor_input(c, link->root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);

  if (auto randr = extensionEvents(c, &xcb_randr_id)) {
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (version && (version->major_version > 1 || version->minor_version >= 5)) {
      link->randrEvents = randr;
      xcb_randr_select_input(c, link->root,
                             XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
  }
  // The root window's own size changes come as ConfigureNotify.
  const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, link->root, XCB_CW_EVENT_MASK, &rootEvents);

  // Shared memory works only with a server on this machine: the segment
  // travels as a file descriptor over the local socket.
  std::string why = "turned off";
  if (options_.useSharedMemory) {
    why = "the server is not on this machine";
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const bool local = getsockname(xcb_get_file_descriptor(c), reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                       address.ss_family == AF_UNIX;
    if (local && extensionEvents(c, &xcb_shm_id)) {
      Reply<xcb_shm_query_version_reply_t> version(
          xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
      why = "the server's MIT-SHM cannot take a file descriptor";
      if (version && (version->major_version > 1 || version->minor_version >= 2)) {
        link->sharedMemory = link->shareBuffer(
            static_cast<std::size_t>(screen.width_in_pixels) * screen.height_in_pixels * 4, why);
      }
    } else if (local) {
      why = "the server lacks MIT-SHM";
    }
  }
  link->throwIfLost();

  link->loadMonitors();
  link->pointer = link->readPointer();
  link->display = PreviewLayout::displayUnderPointer(link->monitors, link->pointer);
  if (!link->display) throw ScreenCaptureError::cannotConnect(options_.display);
  // A new damage object reports the whole screen at once; the first frame
  // comes anyway, so that report would only bring a second, identical one.
  link->drainEvents();
  link->changed = false;
  link->nextPointerRead = std::chrono::steady_clock::now() + options_.pointerPollInterval;
  const std::string where = "Screen preview: capturing " + describe(*link->display);
  log.log(category, link->sharedMemory ? where + " through shared memory"
                                       : where + " through the X connection, which is slower (no shared memory: " +
                                             why + ")");
  link_ = std::move(link);
}

void X11ScreenCapture::stop() { link_.reset(); }

void X11ScreenCapture::wake() {
  const std::uint64_t one = 1;
  // A full counter already wakes the waiter; nothing is lost.
  [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
}

bool X11ScreenCapture::waitForChange(std::chrono::steady_clock::time_point until) {
  if (!link_) throw ScreenCaptureError::displayLost();
  Link& link = *link_;
  for (;;) {
    link.drainEvents();
    if (link.changed) {
      link.changed = false;
      return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= link.nextPointerRead) {
      link.nextPointerRead = now + options_.pointerPollInterval;
      const auto pointer = link.readPointer();
      if (pointer != link.pointer) {
        link.pointer = pointer;
        return true;
      }
      continue;  // the reply may have brought events along
    }
    if (now >= until) return false;
    const auto wait = std::min(until, link.nextPointerRead) - now;
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec timeout{static_cast<time_t>(nanoseconds / 1'000'000'000), static_cast<long>(nanoseconds % 1'000'000'000)};
    pollfd fds[2] = {{xcb_get_file_descriptor(link.connection), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR) {
      throw std::runtime_error(std::string("cannot wait for the X server: ") + std::strerror(errno));
    }
    if ((fds[1].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
      return false;
    }
  }
}

DisplayLocation X11ScreenCapture::locate() {
  if (!link_) throw ScreenCaptureError::displayLost();
  Link& link = *link_;
  link.drainEvents();
  if (link.monitorsStale) link.loadMonitors();
  link.pointer = link.readPointer();
  const bool stillThere = link.display && std::find(link.monitors.begin(), link.monitors.end(), *link.display) !=
                                              link.monitors.end();
  // The capture stays on its display while the pointer is on it, and moves
  // to the display under the pointer when it leaves.
  if (!stillThere || !link.pointer || !link.display->contains(*link.pointer)) {
    const auto next = PreviewLayout::displayUnderPointer(link.monitors, link.pointer);
    if (next != link.display && next && link.log != nullptr) {
      link.log->log(category, "Screen preview: following the pointer to " + describe(*next));
    }
    link.display = next;
  }
  if (!link.display) return DisplayLocation{};
  std::optional<PixelPoint> pointer;
  if (link.pointer && link.display->contains(*link.pointer)) {
    pointer = PixelPoint{link.pointer->x - link.display->x, link.pointer->y - link.display->y};
  }
  return DisplayLocation{link.display->size(), pointer};
}

std::optional<CapturedFrame> X11ScreenCapture::grab(PixelRect region) {
  if (!link_) throw ScreenCaptureError::displayLost();
  Link& link = *link_;
  if (!link.display || region.width <= 0 || region.height <= 0) return std::nullopt;
  xcb_connection_t* c = link.connection;
  const PixelRect area{link.display->x + region.x, link.display->y + region.y, region.width, region.height};
  // What changes from now on is reported again, for the next frame.
  xcb_damage_subtract(c, link.damage, XCB_NONE, XCB_NONE);

  CapturedFrame frame;
  frame.size = area.size();
  frame.stride = area.width * 4;
  const auto bytes = static_cast<std::size_t>(frame.stride) * area.height;
  std::string why;
  if (link.sharedMemory && !link.shareBuffer(bytes, why)) {
    link.throwIfLost();
    link.sharedMemory = false;
    if (link.log != nullptr) {
      link.log->log(category, "Screen preview: capturing through the X connection from now on (" + why + ")");
    }
  }
  xcb_generic_error_t* error = nullptr;
  if (link.sharedMemory) {
    Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, link.root, static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
                          static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height), ~0U,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, link.buffer.segment, 0),
        &error));
    std::free(error);
    link.throwIfLost();
    if (!reply || reply->size < bytes) {
      // Outside the screen: the layout changed under us.
      link.monitorsStale = true;
      return std::nullopt;
    }
    frame.pixels = link.buffer.data;
  } else {
    link.image.reset(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, link.root, static_cast<std::int16_t>(area.x),
                      static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), ~0U),
        &error));
    std::free(error);
    link.throwIfLost();
    if (!link.image || static_cast<std::size_t>(xcb_get_image_data_length(link.image.get())) < bytes) {
      link.monitorsStale = true;
      return std::nullopt;
    }
    frame.pixels = xcb_get_image_data(link.image.get());
  }
  if (link.cursorStale) link.loadCursor();
  if (link.pointer) frame.pointer = PixelPoint{link.pointer->x - area.x, link.pointer->y - area.y};
  if (link.hasCursor) frame.cursor = &link.cursor;
  return frame;
}

}  // namespace glidemate::host
