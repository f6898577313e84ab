#include "host/wlroots/wlroots_laser_overlay.hpp"

#include <cairo.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <asio/post.hpp>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include "host/input/cairo/laser_dot_painter.hpp"
#include "host/wlroots/wayland_connection.hpp"
#include "host/wlroots/wayland_outputs.hpp"
// The protocol names an argument "namespace", a keyword here.
#define namespace layerNamespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace glidemate::host {
namespace {

constexpr const char* logCategory = "laser";
constexpr int size = LaserDotPainter::frameSize;
constexpr int stride = size * 4;
// How often a dot whose compositor went away looks for it again.
constexpr auto reconnectInterval = std::chrono::seconds(1);

bool is(const char* interface, const wl_interface& known) { return std::strcmp(interface, known.name) == 0; }

// Margins are whole points; a point beyond them is far off any output.
int margin(double value) {
  return static_cast<int>(std::lround(std::clamp(value - size / 2.0, -1e9, 1e9)));
}

struct State : std::enable_shared_from_this<State> {
  State(const asio::any_io_executor& e, Logger& l, std::string d, LaserColor c, ScreenPoint p)
      : executor(e), logger(l), display(std::move(d)), color(c), point(p) {}

  ~State() { teardown(); }

  asio::any_io_executor executor;
  Logger& logger;
  std::string display;
  LaserColor color;
  ScreenPoint point;

  std::unique_ptr<WaylandConnection> wayland;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  zwlr_layer_shell_v1* shell = nullptr;
  WaylandOutputs outputs;
  bool ready = false;

  // The dot's picture in the current colour.
  wl_buffer* buffer = nullptr;
  // The surface, on one output.
  wl_surface* surface = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  std::uint32_t outputName = 0;
  ScreenPoint outputOrigin;
  bool attached = false;
  std::optional<std::pair<int, int>> marginsSent;
  // Set when the compositor went away while the dot showed: it is looked
  // for again as the dot follows the pointer.
  bool lost = false;
  std::chrono::steady_clock::time_point nextAttempt;

  void log(const std::string& message) { logger.log(logCategory, message); }

  void connect() {
    wayland = WaylandConnection::open(executor, display, [weak = weak_from_this()](const std::string& why) {
      if (auto self = weak.lock()) {
        self->log("The Wayland compositor " + why + ": the laser dot is gone until it is back");
        self->teardown();
        self->lost = true;
      }
    });
    if (!wayland) {
      if (!lost) log("No Wayland compositor at " + waylandDisplayName(display) + ": the laser dot is not drawn");
      return;
    }
    if (lost) log("The Wayland compositor is back: the laser dot shows again");
    lost = false;
    wayland->onDrained([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->show();
    });
    registry = wl_display_get_registry(wayland->display());
    wl_registry_add_listener(registry, &registryListener, this);
    // The outputs bound with the globals describe themselves by the second
    // answer.
    wayland->roundtrip([weak = weak_from_this()] {
      if (auto self = weak.lock()) {
        self->wayland->roundtrip([weak = self->weak_from_this()] {
          if (auto s = weak.lock()) s->globalsKnown();
        });
      }
    });
  }

  void teardown() {
    ready = false;
    destroySurface();
    if (buffer != nullptr) wl_buffer_destroy(buffer);
    buffer = nullptr;
    outputs.clear();
    if (shell != nullptr) zwlr_layer_shell_v1_destroy(shell);
    if (shm != nullptr) wl_shm_destroy(shm);
    if (compositor != nullptr) wl_compositor_destroy(compositor);
    if (registry != nullptr) wl_registry_destroy(registry);
    shell = nullptr;
    shm = nullptr;
    compositor = nullptr;
    registry = nullptr;
    wayland.reset();
  }

  void global(std::uint32_t name, const char* interface, std::uint32_t version) {
    if (is(interface, wl_compositor_interface) && compositor == nullptr) {
      compositor = static_cast<wl_compositor*>(
          wl_registry_bind(registry, name, &wl_compositor_interface, std::min(version, 4u)));
    } else if (is(interface, wl_shm_interface) && shm == nullptr) {
      shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (is(interface, zwlr_layer_shell_v1_interface) && shell == nullptr) {
      shell = static_cast<zwlr_layer_shell_v1*>(
          wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, std::min(version, 3u)));
    } else {
      outputs.offer(registry, name, interface, version);
    }
  }

  void globalsKnown() {
    if (compositor == nullptr || shm == nullptr || shell == nullptr) {
      log("The Wayland compositor offers no layer shell (wlroots protocols): the laser dot is not drawn");
      teardown();
      return;
    }
    ready = true;
    draw();
    show();
  }

  // A new picture of the dot in `color`; the old one goes once the new is
  // attached.
  void draw() {
    const int fd = memfd_create("glidemate-laser", MFD_CLOEXEC);
    if (fd < 0) return;
    constexpr int bytes = stride * size;
    void* pixels = ftruncate(fd, bytes) == 0 ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                                             : MAP_FAILED;
    if (pixels == MAP_FAILED) {
      log(std::string("The laser dot could not be drawn: ") + std::strerror(errno));
      close(fd);
      return;
    }
    // Cairo's ARGB32 is premultiplied and in native order, as wl_shm's
    // ARGB8888 is on a little-endian machine.
    cairo_surface_t* image = cairo_image_surface_create_for_data(static_cast<unsigned char*>(pixels),
                                                                 CAIRO_FORMAT_ARGB32, size, size, stride);
    cairo_t* cr = cairo_create(image);
    LaserDotPainter::paint(cr, color, true);
    cairo_destroy(cr);
    cairo_surface_flush(image);
    cairo_surface_destroy(image);
    munmap(pixels, bytes);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, bytes);
    wl_buffer* drawn = wl_shm_pool_create_buffer(pool, 0, size, size, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer* old = buffer;
    buffer = drawn;
    if (attached) attach();
    if (old != nullptr) wl_buffer_destroy(old);
  }

  void attach() {
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, size, size);
    wl_surface_commit(surface);
    wayland->flush();
  }

  // Puts the surface on the output that holds the point, centred on it.
  void show() {
    if (!ready || wayland->congested()) return;
    const auto described = outputs.described();
    std::vector<ScreenRect> rects;
    for (const auto& o : described) rects.push_back(*o.logical);
    const auto nearest = nearestPointOnOutputs(rects, point);
    const auto index = nearest ? outputHolding(rects, *nearest) : std::nullopt;
    if (!index) return;
    const auto& output = described[*index];
    if (layer == nullptr || output.name != outputName) {
      destroySurface();
      createSurface(output);
    }
    // The output may have moved in the layout since.
    outputOrigin = {output.logical->x, output.logical->y};
    const std::pair<int, int> margins{margin(point.y - outputOrigin.y), margin(point.x - outputOrigin.x)};
    if (margins == marginsSent) return;
    zwlr_layer_surface_v1_set_margin(layer, margins.first, 0, 0, margins.second);
    wl_surface_commit(surface);
    wayland->flush();
    marginsSent = margins;
  }

  void createSurface(const WaylandOutputs::Output& output) {
    surface = wl_compositor_create_surface(compositor);
    // Clicks go through to what is below.
    wl_region* nothing = wl_compositor_create_region(compositor);
    wl_surface_set_input_region(surface, nothing);
    wl_region_destroy(nothing);
    layer = zwlr_layer_shell_v1_get_layer_surface(shell, surface, output.output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                                                  "glidemate-laser");
    zwlr_layer_surface_v1_add_listener(layer, &layerListener, this);
    zwlr_layer_surface_v1_set_size(layer, size, size);
    zwlr_layer_surface_v1_set_anchor(layer,
                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    zwlr_layer_surface_v1_set_exclusive_zone(layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    outputName = output.name;
    attached = false;
    marginsSent.reset();
  }

  void destroySurface() {
    if (layer != nullptr) zwlr_layer_surface_v1_destroy(layer);
    if (surface != nullptr) wl_surface_destroy(surface);
    layer = nullptr;
    surface = nullptr;
    attached = false;
    marginsSent.reset();
  }

  void configured(std::uint32_t serial) {
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    if (!attached && buffer != nullptr) {
      attached = true;
      attach();
    } else {
      wl_surface_commit(surface);
      wayland->flush();
    }
  }

  // The output went away: the next move finds another.
  void closed() {
    destroySurface();
    asio::post(executor, [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->show();
    });
  }

  static const wl_registry_listener registryListener;
  static const zwlr_layer_surface_v1_listener layerListener;
};

const wl_registry_listener State::registryListener{
    [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
      static_cast<State*>(data)->global(name, interface, version);
    },
    [](void* data, wl_registry*, std::uint32_t name) {
      auto& self = *static_cast<State*>(data);
      if (name == self.outputName) self.destroySurface();
      self.outputs.remove(name);
    },
};

const zwlr_layer_surface_v1_listener State::layerListener{
    [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t, std::uint32_t) {
      static_cast<State*>(data)->configured(serial);
    },
    [](void* data, zwlr_layer_surface_v1*) { static_cast<State*>(data)->closed(); },
};

class WlrootsLaserWindow final : public LaserWindow {
 public:
  explicit WlrootsLaserWindow(std::shared_ptr<State> state) : state_(std::move(state)) {}

  void setColor(LaserColor color) override {
    if (state_->color == color) return;
    state_->color = color;
    if (state_->ready) state_->draw();
  }

  void moveTo(ScreenPoint point) override {
    State& s = *state_;
    s.point = point;
    if (s.lost && !s.wayland) {
      const auto now = std::chrono::steady_clock::now();
      if (now < s.nextAttempt) return;
      s.nextAttempt = now + reconnectInterval;
      s.connect();
      return;
    }
    s.show();
  }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace

WlrootsLaserOverlay::WlrootsLaserOverlay(const asio::any_io_executor& executor, Logger& logger, Options options)
    : executor_(executor), logger_(logger), options_(std::move(options)) {}

std::unique_ptr<LaserWindow> WlrootsLaserOverlay::open(LaserColor color, ScreenPoint centre) {
  auto state = std::make_shared<State>(executor_, logger_, options_.display, color, centre);
  state->connect();
  return std::make_unique<WlrootsLaserWindow>(std::move(state));
}

}  // namespace glidemate::host
