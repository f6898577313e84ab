#include "host/wlroots/wlroots_virtual_input.hpp"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/wlroots/virtual_keymap.hpp"
#include "host/wlroots/wayland_connection.hpp"
#include "host/wlroots/wayland_outputs.hpp"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace glidemate::host {
namespace {

constexpr const char* logCategory = "input";
// Absolute positions are sent in 1/256ths of a point.
constexpr double absoluteSteps = 256;

// Where the compositor's socket lives, as libwayland looks for it.
std::filesystem::path socketPath(const std::string& display) {
  if (!display.empty() && display.front() == '/') return display;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return std::filesystem::path(runtime != nullptr ? runtime : "") / display;
}

bool is(const char* interface, const wl_interface& known) { return std::strcmp(interface, known.name) == 0; }

}  // namespace

struct WlrootsVirtualInput::State : std::enable_shared_from_this<State> {
  State(const asio::any_io_executor& e, Logger& l, Options o)
      : executor(e), logger(l), options(std::move(o)), display(waylandDisplayName(options.display)), pause(e) {}

  ~State() { disconnect(); }

  asio::any_io_executor executor;
  Logger& logger;
  Options options;
  std::string display;
  const std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();

  std::unique_ptr<WaylandConnection> wayland;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  zwlr_virtual_pointer_manager_v1* pointerManager = nullptr;
  zwp_virtual_keyboard_manager_v1* keyboardManager = nullptr;
  zwlr_virtual_pointer_v1* pointer = nullptr;
  zwp_virtual_keyboard_v1* keyboard = nullptr;
  WaylandOutputs outputs;
  // While the pointer is tracked (the laser dot shows): where this
  // session put it, once it has.
  bool tracking = false;
  std::optional<ScreenPoint> tracked;
  // Motion held back while the compositor is behind: the last absolute
  // place, then the relative motion since.
  std::optional<ScreenPoint> heldPlace;
  double heldDx = 0;
  double heldDy = 0;

  bool ready = false;
  std::uint64_t generation = 0;
  // Whether the loss of the compositor (its absence, or its lack of the
  // managers) was said; once until it is ready again.
  bool absenceLogged = false;
  bool everReady = false;

  // Retries: `due` once the pause after a failure has passed.
  asio::steady_timer pause;
  bool due = true;
  std::optional<asio::posix::stream_descriptor> socketWatch;

  VirtualKeymap keymap;
  // The keymap revision the compositor has.
  std::optional<std::uint64_t> keymapSent;
  std::optional<VirtualKeymap::Modifiers> modifiersSent;

  std::uint32_t now() const {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - epoch).count());
  }

  void log(const std::string& message) { logger.log(logCategory, message); }

  // --- connection ---------------------------------------------------------

  void connect() {
    if (wayland) return;
    wayland = WaylandConnection::open(executor, display, [weak = weak_from_this()](const std::string& why) {
      if (auto self = weak.lock()) self->lose(why);
    });
    if (!wayland) {
      if (!absenceLogged) {
        log("No Wayland compositor at " + display + ": input waits for it");
        absenceLogged = true;
      }
      pauseBeforeRetry();
      return;
    }
    wayland->onDrained([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->sendHeldMotion();
    });
    registry = wl_display_get_registry(wayland->display());
    wl_registry_add_listener(registry, &registryListener, this);
    wayland->roundtrip([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->globalsKnown();
    });
  }

  void disconnect() {
    ready = false;
    if (!wayland) return;
    outputs.clear();
    heldPlace.reset();
    heldDx = heldDy = 0;
    if (keyboard != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard);
    if (pointer != nullptr) zwlr_virtual_pointer_v1_destroy(pointer);
    if (keyboardManager != nullptr) zwp_virtual_keyboard_manager_v1_destroy(keyboardManager);
    if (pointerManager != nullptr) zwlr_virtual_pointer_manager_v1_destroy(pointerManager);
    if (seat != nullptr) wl_seat_destroy(seat);
    if (registry != nullptr) wl_registry_destroy(registry);
    keyboard = nullptr;
    pointer = nullptr;
    keyboardManager = nullptr;
    pointerManager = nullptr;
    seat = nullptr;
    registry = nullptr;
    wayland.reset();
  }

  void lose(const std::string& why) {
    if (!absenceLogged) {
      log("The Wayland compositor " + why + ": input is dropped until it is back");
      absenceLogged = true;
    }
    disconnect();
    pauseBeforeRetry();
  }

  void pauseBeforeRetry() {
    due = false;
    pause.expires_after(options.retryInterval);
    pause.async_wait([weak = weak_from_this()](const asio::error_code& error) {
      if (error) return;
      if (auto self = weak.lock()) self->due = true;
    });
    watchForSocket();
  }

  // The compositor coming back makes its socket anew.
  void watchForSocket() {
    if (socketWatch) return;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return;
    const auto path = socketPath(display);
    if (inotify_add_watch(fd, path.parent_path().c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
      close(fd);
      return;
    }
    socketWatch.emplace(executor, fd);
    waitForSocket();
  }

  void waitForSocket() {
    socketWatch->async_wait(asio::posix::stream_descriptor::wait_read,
                            [weak = weak_from_this()](const asio::error_code& error) {
                              if (error) return;
                              if (auto self = weak.lock()) self->socketEvents();
                            });
  }

  void socketEvents() {
    alignas(inotify_event) char buffer[4096];
    bool appeared = false;
    const std::string name = socketPath(display).filename().string();
    for (;;) {
      const ssize_t n = read(socketWatch->native_handle(), buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name == event->name) appeared = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    if (appeared && !wayland) connect();
    waitForSocket();
  }

  void flush() { wayland->flush(); }

  void sendMotion(double dx, double dy) {
    zwlr_virtual_pointer_v1_motion(pointer, now(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    zwlr_virtual_pointer_v1_frame(pointer);
  }

  // Motion held back goes before any other pointer event: a place, then
  // what moved from there.
  void sendHeldMotion() {
    if (!ready) return;
    if (heldPlace) {
      const ScreenPoint to = *heldPlace;
      const double dx = heldDx, dy = heldDy;
      heldPlace.reset();
      place(to, true);
      heldDx += dx;
      heldDy += dy;
    }
    if (heldDx == 0 && heldDy == 0) return;
    sendMotion(heldDx, heldDy);
    heldDx = heldDy = 0;
    flush();
  }

  // Places the pointer at a point of the layout; false (and nothing sent)
  // before the outputs are known. The held place goes out `evenIfBehind`:
  // the drain that sends it comes once.
  bool place(ScreenPoint position, bool evenIfBehind = false) {
    const auto screens = outputs.rects();
    if (!ready || !screens) return false;
    // Absolute positions span the box around every output.
    double left = screens->front().x, top = screens->front().y, right = left, bottom = top;
    for (const auto& r : *screens) {
      left = std::min(left, r.x);
      top = std::min(top, r.y);
      right = std::max(right, r.x + r.width);
      bottom = std::max(bottom, r.y + r.height);
    }
    if (!std::isfinite(position.x) || !std::isfinite(position.y)) return false;
    // Placed absolutely, the pointer no longer owes the held motion.
    heldDx = heldDy = 0;
    // A compositor that has fallen behind gets the last place once it
    // catches up, rather than every one filling libwayland's buffer.
    if (!evenIfBehind && wayland->congested()) {
      heldPlace = position;
      if (tracking) tracked = nearestPointOnOutputs(*screens, position);
      return true;
    }
    const auto steps = [](double value, double from, double to) {
      return static_cast<std::uint32_t>(std::lround((std::clamp(value, from, to) - from) * absoluteSteps));
    };
    zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), steps(position.x, left, right),
                                            steps(position.y, top, bottom), steps(right, left, right),
                                            steps(bottom, top, bottom));
    zwlr_virtual_pointer_v1_frame(pointer);
    flush();
    // The compositor keeps it on an output as this does.
    if (tracking) tracked = nearestPointOnOutputs(*screens, position);
    return true;
  }

  // Makes the pointer's place known: puts it where it was believed to be,
  // else in the middle of the first output.
  void placeTracked() {
    const auto screens = outputs.rects();
    if (!ready || !screens) return;
    const ScreenRect& first = screens->front();
    place(tracked.value_or(ScreenPoint{first.x + first.width / 2, first.y + first.height / 2}));
  }

  // Follows relative motion sent (or held) while the place is known.
  void followRelative(double dx, double dy) {
    if (!tracking || !tracked) return;
    if (const auto screens = outputs.rects()) {
      tracked = nearestPointOnOutputs(*screens, {tracked->x + dx, tracked->y + dy});
    }
  }

  // --- what the compositor tells ---------------------------------------------

  void globalsKnown() {
    if (seat == nullptr || pointerManager == nullptr || keyboardManager == nullptr) {
      if (!absenceLogged) {
        log("The Wayland compositor at " + display +
            " offers no virtual pointer and keyboard (wlroots protocols): input is dropped");
        absenceLogged = true;
      }
      disconnect();
      pauseBeforeRetry();
      return;
    }
    pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointerManager, seat);
    keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager, seat);
    // A new keyboard has no keys down.
    keymap.releaseAll();
    keymapSent.reset();
    modifiersSent.reset();
    sendKeymap();
    sendModifiers();
    // The outputs bound with the globals answer before this.
    wayland->roundtrip([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->becomeReady();
    });
  }

  void becomeReady() {
    ready = true;
    ++generation;
    if (everReady) {
      log("The Wayland compositor is back: input goes to it again");
    } else {
      log("Virtual pointer and keyboard ready on " + display);
    }
    everReady = true;
    absenceLogged = false;
    // A compositor that came back has its pointer wherever it starts it.
    if (tracking) placeTracked();
  }

  void global(std::uint32_t name, const char* interface, std::uint32_t version) {
    if (is(interface, wl_seat_interface) && seat == nullptr) {
      seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (is(interface, zwlr_virtual_pointer_manager_v1_interface)) {
      pointerManager = static_cast<zwlr_virtual_pointer_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (is(interface, zwp_virtual_keyboard_manager_v1_interface)) {
      keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
          wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else {
      outputs.offer(registry, name, interface, version);
    }
  }

  void globalRemoved(std::uint32_t name) {
    outputs.remove(name);
  }

  // --- keyboard ------------------------------------------------------------------

  void sendKeymap() {
    if (keymapSent == keymap.revision()) return;
    const std::string& text = keymap.text();
    const int fd = memfd_create("glidemate-keymap", MFD_CLOEXEC);
    if (fd < 0) return;
    const std::size_t size = text.size() + 1;  // with its terminating NUL
    bool written = true;
    for (std::size_t at = 0; written && at < size;) {
      const ssize_t n = write(fd, text.c_str() + at, size - at);
      if (n < 0 && errno == EINTR) continue;
      written = n > 0;
      at += written ? static_cast<std::size_t>(n) : 0;
    }
    if (written) {
      // libwayland sends a duplicate of the descriptor.
      zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(size));
      keymapSent = keymap.revision();
    } else {
      log("The keymap could not be written: " + std::string(std::strerror(errno)));
    }
    close(fd);
  }

  void sendModifiers(std::uint32_t extra = 0) {
    auto mods = keymap.modifiers();
    mods.depressed |= extra;
    if (modifiersSent == mods) return;
    zwp_virtual_keyboard_v1_modifiers(keyboard, mods.depressed, mods.latched, mods.locked, mods.group);
    modifiersSent = mods;
  }

  void key(std::uint32_t code, bool pressed) {
    zwp_virtual_keyboard_v1_key(keyboard, now(), code,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    keymap.updateKey(code, pressed);
  }

  static const wl_registry_listener registryListener;
};

const wl_registry_listener WlrootsVirtualInput::State::registryListener{
    [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
      static_cast<State*>(data)->global(name, interface, version);
    },
    [](void* data, wl_registry*, std::uint32_t name) { static_cast<State*>(data)->globalRemoved(name); },
};

WlrootsVirtualInput::WlrootsVirtualInput(const asio::any_io_executor& executor, Logger& logger, Options options)
    : state_(std::make_shared<State>(executor, logger, std::move(options))) {
  state_->connect();
}

WlrootsVirtualInput::~WlrootsVirtualInput() {
  state_->pause.cancel();
  if (state_->socketWatch) state_->socketWatch->close();
  state_->disconnect();
}

bool WlrootsVirtualInput::isReady() const { return state_->ready; }
std::uint64_t WlrootsVirtualInput::generation() const { return state_->generation; }

void WlrootsVirtualInput::inputWanted() {
  State& s = *state_;
  if (!s.wayland && s.due) s.connect();
}

void WlrootsVirtualInput::pointerMotionRelative(double dx, double dy) {
  State& s = *state_;
  if (!s.ready) return;
  s.followRelative(dx, dy);
  // A compositor that has fallen behind gets the sum once it catches up,
  // rather than every step filling libwayland's buffer until it breaks.
  if (s.wayland->congested()) {
    s.heldDx += dx;
    s.heldDy += dy;
    return;
  }
  s.sendMotion(dx, dy);
  s.flush();
}

bool WlrootsVirtualInput::pointerMotionAbsolute(ScreenPoint position) { return state_->place(position); }

void WlrootsVirtualInput::pointerButton(std::int32_t button, bool pressed) {
  State& s = *state_;
  if (!s.ready) return;
  s.sendHeldMotion();
  zwlr_virtual_pointer_v1_button(s.pointer, s.now(), static_cast<std::uint32_t>(button),
                                 pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(s.pointer);
  s.flush();
}

void WlrootsVirtualInput::pointerAxis(double dx, double dy, bool finish) {
  State& s = *state_;
  if (!s.ready) return;
  s.sendHeldMotion();
  const std::uint32_t time = s.now();
  // Each axis request is followed by its source: wlroots gives the source
  // to the axis named last.
  const auto axis = [&](std::uint32_t which, double value) {
    if (value == 0) return;
    zwlr_virtual_pointer_v1_axis(s.pointer, time, which, wl_fixed_from_double(value));
    zwlr_virtual_pointer_v1_axis_source(s.pointer, WL_POINTER_AXIS_SOURCE_FINGER);
  };
  axis(WL_POINTER_AXIS_VERTICAL_SCROLL, dy);
  axis(WL_POINTER_AXIS_HORIZONTAL_SCROLL, dx);
  if (finish) {
    for (const std::uint32_t which : {WL_POINTER_AXIS_VERTICAL_SCROLL, WL_POINTER_AXIS_HORIZONTAL_SCROLL}) {
      zwlr_virtual_pointer_v1_axis_stop(s.pointer, time, which);
      zwlr_virtual_pointer_v1_axis_source(s.pointer, WL_POINTER_AXIS_SOURCE_FINGER);
    }
  }
  zwlr_virtual_pointer_v1_frame(s.pointer);
  s.flush();
}

void WlrootsVirtualInput::keyboardKeycode(std::uint32_t key, bool pressed) {
  State& s = *state_;
  if (!s.ready) return;
  s.key(key, pressed);
  s.sendModifiers();
  s.flush();
}

void WlrootsVirtualInput::keyboardKeysym(std::uint32_t keysym, bool pressed) {
  State& s = *state_;
  if (!s.ready) return;
  const auto press = s.keymap.pressFor(keysym);
  if (!press) return;
  s.sendKeymap();
  // A shifted keysym has Shift held for its own press only.
  if (pressed && press->shift) s.sendModifiers(s.keymap.shiftMask());
  s.key(press->key, pressed);
  if (!pressed || press->shift) s.sendModifiers();
  s.flush();
}

std::optional<ScreenPoint> WlrootsVirtualInput::pointerPosition() const {
  return state_->tracking && state_->ready ? state_->tracked : std::nullopt;
}

void WlrootsVirtualInput::trackPointer(std::optional<ScreenPoint> believed) {
  State& s = *state_;
  s.tracking = true;
  s.tracked = believed;
  s.placeTracked();
}

void WlrootsVirtualInput::stopTrackingPointer() {
  state_->tracking = false;
  state_->tracked.reset();
}

std::optional<std::vector<ScreenRect>> WlrootsVirtualInput::monitors() const { return state_->outputs.rects(); }

std::optional<double> WlrootsVirtualInput::refreshRate() const { return state_->outputs.refreshRate(); }

bool offersVirtualInput(const std::string& configured, std::chrono::milliseconds timeout) {
  wl_display* connection = wl_display_connect(waylandDisplayName(configured).c_str());
  if (connection == nullptr) return false;
  struct Found {
    bool pointer = false;
    bool keyboard = false;
    bool answered = false;
  } found;
  static const wl_registry_listener listener{
      [](void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
        auto& f = *static_cast<Found*>(data);
        f.pointer = f.pointer || is(interface, zwlr_virtual_pointer_manager_v1_interface);
        f.keyboard = f.keyboard || is(interface, zwp_virtual_keyboard_manager_v1_interface);
      },
      [](void*, wl_registry*, std::uint32_t) {},
  };
  static const wl_callback_listener done{[](void* data, wl_callback*, std::uint32_t) {
    static_cast<Found*>(data)->answered = true;
  }};
  wl_registry* registry = wl_display_get_registry(connection);
  wl_registry_add_listener(registry, &listener, &found);
  wl_callback* callback = wl_display_sync(connection);
  wl_callback_add_listener(callback, &done, &found);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!found.answered) {
    if (wl_display_flush(connection) < 0 && errno != EAGAIN) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (wl_display_prepare_read(connection) != 0) {
      if (wl_display_dispatch_pending(connection) < 0) break;
      continue;
    }
    pollfd fd{wl_display_get_fd(connection), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
      wl_display_cancel_read(connection);
      continue;
    }
    if (wl_display_read_events(connection) < 0 || wl_display_dispatch_pending(connection) < 0) break;
  }
  wl_callback_destroy(callback);
  wl_registry_destroy(registry);
  wl_display_disconnect(connection);
  return found.answered && found.pointer && found.keyboard;
}

}  // namespace glidemate::host
