#include "host/services/screen_preview/wlroots/wlroots_screen_capture.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/services/screen_preview/screen_capture_error.hpp"
#include "host/wlroots/wayland_connection.hpp"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace glidemate::host {
namespace {

// The compositor's answer to one capture request.
struct FrameAnswer {
  std::uint32_t format = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
  std::uint32_t flags = 0;
  bool described = false;
  bool done = false;
  bool copied = false;
};

const zwlr_screencopy_frame_v1_listener frameListener{
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width, std::uint32_t height,
       std::uint32_t stride) {
      auto& a = *static_cast<FrameAnswer*>(data);
      a = FrameAnswer{format, width, height, stride, 0, true, false, false};
    },
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) { static_cast<FrameAnswer*>(data)->flags = flags; },
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
      auto& a = *static_cast<FrameAnswer*>(data);
      a.done = a.copied = true;
    },
    [](void* data, zwlr_screencopy_frame_v1*) { static_cast<FrameAnswer*>(data)->done = true; },
};

bool swapsRedAndBlue(std::uint32_t format) {
  return format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
}

}  // namespace

struct WlrootsScreenCapture::Connection {
  struct Output {
    std::uint32_t name = 0;
    wl_output* output = nullptr;
    PixelSize mode;
  };

  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_shm* shm = nullptr;
  zwlr_screencopy_manager_v1* manager = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;
  // Set by the registry, read by waitForChange().
  bool layoutChanged = false;

  // The shared-memory buffer the compositor copies into, kept while the
  // frames keep their size and format.
  wl_buffer* buffer = nullptr;
  void* mapped = nullptr;
  std::size_t mappedSize = 0;
  FrameAnswer bufferShape;
  std::vector<std::uint8_t> pixels;

  ~Connection() {
    dropBuffer();
    for (auto& o : outputs) wl_output_destroy(o->output);
    if (manager != nullptr) zwlr_screencopy_manager_v1_destroy(manager);
    if (shm != nullptr) wl_shm_destroy(shm);
    if (registry != nullptr) wl_registry_destroy(registry);
    if (display != nullptr) wl_display_disconnect(display);
  }

  void dropBuffer() {
    if (buffer != nullptr) wl_buffer_destroy(buffer);
    if (mapped != nullptr) munmap(mapped, mappedSize);
    buffer = nullptr;
    mapped = nullptr;
    mappedSize = 0;
  }

  void dispatch() {
    if (wl_display_dispatch(display) < 0) throw ScreenCaptureError::displayLost();
  }

  void roundtrip() {
    if (wl_display_roundtrip(display) < 0) throw ScreenCaptureError::displayLost();
  }

  // A buffer of the shape the compositor asks for.
  void prepareBuffer(const FrameAnswer& shape) {
    if (buffer != nullptr && shape.format == bufferShape.format && shape.width == bufferShape.width &&
        shape.height == bufferShape.height && shape.stride == bufferShape.stride) {
      return;
    }
    dropBuffer();
    const std::size_t size = static_cast<std::size_t>(shape.stride) * shape.height;
    const int fd = memfd_create("glidemate-capture", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
      if (fd >= 0) close(fd);
      throw ScreenCaptureError::displayLost();
    }
    mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
      mapped = nullptr;
      close(fd);
      throw ScreenCaptureError::displayLost();
    }
    mappedSize = size;
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
    buffer = wl_shm_pool_create_buffer(pool, 0, static_cast<std::int32_t>(shape.width),
                                       static_cast<std::int32_t>(shape.height), static_cast<std::int32_t>(shape.stride),
                                       shape.format);
    wl_shm_pool_destroy(pool);
    close(fd);
    bufferShape = shape;
  }

  static const wl_registry_listener registryListener;
  static const wl_output_listener outputListener;
};

const wl_registry_listener WlrootsScreenCapture::Connection::registryListener{
    [](void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
      auto& c = *static_cast<Connection*>(data);
      if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        c.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
      } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0) {
        c.manager = static_cast<zwlr_screencopy_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, 1));
      } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto o = std::make_unique<Output>();
        o->name = name;
        o->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
        wl_output_add_listener(o->output, &outputListener, o.get());
        c.outputs.push_back(std::move(o));
        c.layoutChanged = true;
      }
    },
    [](void* data, wl_registry*, std::uint32_t name) {
      auto& c = *static_cast<Connection*>(data);
      std::erase_if(c.outputs, [&](const auto& o) {
        if (o->name != name) return false;
        wl_output_destroy(o->output);
        return true;
      });
      c.layoutChanged = true;
    },
};

const wl_output_listener WlrootsScreenCapture::Connection::outputListener{
    [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const char*,
       const char*, std::int32_t) {},
    [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height, std::int32_t) {
      if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) static_cast<Output*>(data)->mode = PixelSize{width, height};
    },
    [](void*, wl_output*) {},
    [](void*, wl_output*, std::int32_t) {},
    nullptr,
    nullptr,
};

WlrootsScreenCapture::WlrootsScreenCapture(std::string display)
    : display_(std::move(display)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WlrootsScreenCapture::~WlrootsScreenCapture() {
  stop();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void WlrootsScreenCapture::start(Logger& log) {
  stop();
  const std::string name = waylandDisplayName(display_);
  auto c = std::make_unique<Connection>();
  c->display = wl_display_connect(name.c_str());
  if (c->display == nullptr) throw ScreenCaptureError::cannotConnect(name);
  c->registry = wl_display_get_registry(c->display);
  wl_registry_add_listener(c->registry, &Connection::registryListener, c.get());
  c->roundtrip();  // the globals
  c->roundtrip();  // the outputs' modes
  if (c->manager == nullptr) throw ScreenCaptureError::missingExtension("wlr-screencopy");
  if (c->shm == nullptr) throw ScreenCaptureError::missingExtension("wl_shm");
  c->layoutChanged = false;
  connection_ = std::move(c);
  log.log("preview", "Screen preview: the first output of the Wayland compositor at " + name +
                         ", through wlroots' screencopy");
}

void WlrootsScreenCapture::stop() { connection_.reset(); }

bool WlrootsScreenCapture::waitForChange(std::chrono::steady_clock::time_point until) {
  Connection& c = *connection_;
  for (;;) {
    while (wl_display_prepare_read(c.display) != 0) {
      if (wl_display_dispatch_pending(c.display) < 0) throw ScreenCaptureError::displayLost();
    }
    wl_display_flush(c.display);
    if (c.layoutChanged) {
      wl_display_cancel_read(c.display);
      c.layoutChanged = false;
      return true;
    }
    int timeout = -1;
    if (until != std::chrono::steady_clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      timeout = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 60'000));
    }
    pollfd fds[2] = {{wl_display_get_fd(c.display), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0 && errno != EINTR) {
      wl_display_cancel_read(c.display);
      throw ScreenCaptureError::displayLost();
    }
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      if (wl_display_read_events(c.display) < 0 || wl_display_dispatch_pending(c.display) < 0) {
        throw ScreenCaptureError::displayLost();
      }
    } else {
      wl_display_cancel_read(c.display);
    }
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
      return false;
    }
    // Without damage, every deadline may have brought a change.
    if (ready == 0 && timeout >= 0) return true;
  }
}

void WlrootsScreenCapture::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

DisplayLocation WlrootsScreenCapture::locate() {
  Connection& c = *connection_;
  if (wl_display_dispatch_pending(c.display) < 0) throw ScreenCaptureError::displayLost();
  if (c.outputs.empty()) throw ScreenCaptureError::displayLost();
  return DisplayLocation{c.outputs.front()->mode, std::nullopt};
}

std::optional<CapturedFrame> WlrootsScreenCapture::grab(PixelRect region) {
  Connection& c = *connection_;
  if (c.outputs.empty()) throw ScreenCaptureError::displayLost();
  Connection::Output& output = *c.outputs.front();
  FrameAnswer answer;
  zwlr_screencopy_frame_v1* frame = zwlr_screencopy_manager_v1_capture_output(c.manager, 1, output.output);
  zwlr_screencopy_frame_v1_add_listener(frame, &frameListener, &answer);
  struct Release {
    zwlr_screencopy_frame_v1* frame;
    ~Release() { zwlr_screencopy_frame_v1_destroy(frame); }
  } release{frame};
  while (!answer.described && !answer.done) c.dispatch();
  if (!answer.described) return std::nullopt;
  if (static_cast<int>(answer.width) != output.mode.width || static_cast<int>(answer.height) != output.mode.height) {
    // The output changed size under the request; the next locate() has it.
    output.mode = PixelSize{static_cast<int>(answer.width), static_cast<int>(answer.height)};
    return std::nullopt;
  }
  if (answer.format != WL_SHM_FORMAT_XRGB8888 && answer.format != WL_SHM_FORMAT_ARGB8888 &&
      !swapsRedAndBlue(answer.format)) {
    throw ScreenCaptureError(ScreenCaptureError::UnsupportedPixelFormat{0, static_cast<int>(answer.stride / answer.width) * 8});
  }
  c.prepareBuffer(answer);
  zwlr_screencopy_frame_v1_copy(frame, c.buffer);
  while (!answer.done) c.dispatch();
  if (!answer.copied) return std::nullopt;

  const PixelRect r{std::clamp(region.x, 0, output.mode.width), std::clamp(region.y, 0, output.mode.height),
                    0, 0};
  const int width = std::clamp(region.width, 0, output.mode.width - r.x);
  const int height = std::clamp(region.height, 0, output.mode.height - r.y);
  const int stride = width * 4;
  c.pixels.resize(static_cast<std::size_t>(stride) * height);
  const bool flipped = (answer.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
  const auto* source = static_cast<const std::uint8_t*>(c.mapped);
  for (int row = 0; row < height; ++row) {
    const int from = flipped ? static_cast<int>(answer.height) - 1 - (r.y + row) : r.y + row;
    const std::uint8_t* in = source + static_cast<std::size_t>(from) * answer.stride + static_cast<std::size_t>(r.x) * 4;
    std::uint8_t* out = c.pixels.data() + static_cast<std::size_t>(row) * stride;
    std::memcpy(out, in, static_cast<std::size_t>(stride));
    if (swapsRedAndBlue(answer.format)) {
      for (int x = 0; x < width; ++x) std::swap(out[x * 4], out[x * 4 + 2]);
    }
  }
  return CapturedFrame{c.pixels.data(), PixelSize{width, height}, stride, std::nullopt, nullptr};
}

}  // namespace glidemate::host
