// wayland-test-client [--app-id ID] [--title TITLE] [--windowed]: a Wayland
// window, full screen unless --windowed, named "wayland-test-client" unless
// told otherwise, that prints, one line
// each on stdout, what its pointer and keyboard receive, so that tests can
// check what the compositor delivered. It paints four flat quadrants (red,
// green, blue, white from the top left, clockwise red-green-white-blue) so a
// captured frame can be checked too, and shows the pointer over it as an
// 8 x 8 black square with its hot spot at the top-left corner.
//
// Lines: "configure W H", "presented" (its first picture is on screen),
// "pointer-enter X Y", "motion X Y",
// "button CODE down|up", "axis-source wheel|finger|continuous",
// "axis vertical|horizontal VALUE", "axis-stop vertical|horizontal",
// "frame", "keyboard-enter", "key NAME down|up MODS", "text UTF8".
//
// A "sync" line on stdin answers "synced" once the compositor has drawn a
// frame after it: mutter hands pointer motion and enters on at its next
// frame, so a key or click sent after a move can arrive before it; after
// "synced", everything the compositor had taken in before "sync" is here.
//
// Text is what the key types in the keymap the compositor sent. Like GTK's
// input method, Ctrl+Shift+U starts a code point in hex, ended by space or
// Return, which then arrives as one "text" line.
//
// The clipboard, through wl_data_device (the window has the keyboard's
// focus, which setting the selection needs):
// - "copy TEXT" puts TEXT on the clipboard as text/plain;charset=utf-8 and
//   text/plain, "copy-large N" N bytes of "abc…z" repeated, "copy-silent
//   TEXT" offers TEXT but never writes it to a reader (whose pipe it closes
//   only once its offer is replaced); each answers "copied" once the
//   compositor has taken the offer.
// - "paste" reads the clipboard's text and answers "clipboard N TEXT" (N
//   bytes; a newline in TEXT is written as \n), or "clipboard none".
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "xdg-shell-client-protocol.h"

namespace {

struct Client {
  wl_display* display = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  xdg_wm_base* wmBase = nullptr;
  wl_surface* surface = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wl_pointer* pointer = nullptr;
  wl_keyboard* keyboard = nullptr;
  wl_buffer* buffer = nullptr;
  // The pointer's picture over the window: an 8 x 8 black square with its
  // hot spot at the top-left corner.
  wl_surface* cursorSurface = nullptr;
  wl_data_device_manager* dataDeviceManager = nullptr;
  wl_data_device* dataDevice = nullptr;
  // What we offer, while the compositor holds our source.
  wl_data_source* source = nullptr;
  std::string copied;
  bool silent = false;
  // Pipes of readers a silent source keeps waiting.
  std::vector<int> unanswered;
  // The clipboard's current offer and its types.
  wl_data_offer* selection = nullptr;
  wl_data_offer* incoming = nullptr;
  std::vector<std::string> incomingTypes;
  std::vector<std::string> selectionTypes;
  std::uint32_t keyboardSerial = 0;
  int width = 0;
  int height = 0;
  int pendingWidth = 0;
  int pendingHeight = 0;

  xkb_context* xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  xkb_keymap* keymap = nullptr;
  xkb_state* state = nullptr;

  // Unicode entry: set while a hex code point is being typed.
  std::optional<std::string> hexEntry;
};

void say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string utf8(std::uint32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

// A shared-memory buffer of `width` x `height` pixels in `format`, each
// the colour `colourAt` gives.
template <class Colour>
wl_buffer* shmBuffer(Client& c, int width, int height, std::uint32_t format, Colour colourAt) {
  const int stride = width * 4;
  const std::size_t size = static_cast<std::size_t>(stride) * height;
  const int fd = memfd_create("wayland-test-client", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) std::abort();
  void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) std::abort();
  auto* pixels = static_cast<std::uint32_t*>(mapped);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels[static_cast<std::size_t>(y) * width + x] = colourAt(x, y);
  }
  munmap(mapped, size);
  wl_shm_pool* pool = wl_shm_create_pool(c.shm, fd, static_cast<std::int32_t>(size));
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}

// The window's picture: the four quadrants.
wl_buffer* paint(Client& c, int width, int height) {
  return shmBuffer(c, width, height, WL_SHM_FORMAT_XRGB8888, [&](int x, int y) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    std::uint32_t colour = 0xFFFF0000;         // red
    if (right && !bottom) colour = 0xFF00FF00;  // green
    if (right && bottom) colour = 0xFFFFFFFF;   // white
    if (!right && bottom) colour = 0xFF0000FF;  // blue
    return colour;
  });
}

std::string modifiers(Client& c) {
  std::string out;
  const auto add = [&](const char* name, const char* label) {
    if (c.state != nullptr && xkb_state_mod_name_is_active(c.state, name, XKB_STATE_MODS_EFFECTIVE) > 0) {
      if (!out.empty()) out += '+';
      out += label;
    }
  };
  add(XKB_MOD_NAME_CTRL, "ctrl");
  add(XKB_MOD_NAME_ALT, "alt");
  add(XKB_MOD_NAME_LOGO, "super");
  add(XKB_MOD_NAME_SHIFT, "shift");
  return out.empty() ? "none" : out;
}

// --- xdg-shell ---------------------------------------------------------------

void framePresented(void*, wl_callback* callback, std::uint32_t) {
  wl_callback_destroy(callback);
  say("presented");
}
const wl_callback_listener frameListener{framePresented};

void frameSynced(void*, wl_callback* callback, std::uint32_t) {
  wl_callback_destroy(callback);
  say("synced");
}
const wl_callback_listener syncListener{frameSynced};

// Damages a pixel so that the compositor draws a frame, and answers once
// it has.
void requestSync(Client& c) {
  if (c.buffer == nullptr) {
    std::fprintf(stderr, "wayland-test-client: sync before the window was configured\n");
    return;
  }
  wl_callback_add_listener(wl_surface_frame(c.surface), &syncListener, &c);
  wl_surface_attach(c.surface, c.buffer, 0, 0);
  wl_surface_damage(c.surface, 0, 0, 1, 1);
  wl_surface_commit(c.surface);
}

void wmBasePing(void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener wmBaseListener{wmBasePing};

void toplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
  auto& c = *static_cast<Client*>(data);
  c.pendingWidth = width;
  c.pendingHeight = height;
}
void toplevelClose(void*, xdg_toplevel*) { std::exit(0); }
void toplevelBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void toplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener toplevelListener{toplevelConfigure, toplevelClose, toplevelBounds,
                                             toplevelCapabilities};

void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
  auto& c = *static_cast<Client*>(data);
  xdg_surface_ack_configure(surface, serial);
  const int width = c.pendingWidth > 0 ? c.pendingWidth : 640;
  const int height = c.pendingHeight > 0 ? c.pendingHeight : 480;
  if (width != c.width || height != c.height || c.buffer == nullptr) {
    if (c.buffer != nullptr) wl_buffer_destroy(c.buffer);
    c.buffer = paint(c, width, height);
    c.width = width;
    c.height = height;
    wl_surface_attach(c.surface, c.buffer, 0, 0);
    wl_surface_damage(c.surface, 0, 0, width, height);
    wl_callback_add_listener(wl_surface_frame(c.surface), &frameListener, &c);
    say("configure " + std::to_string(width) + " " + std::to_string(height));
  }
  wl_surface_commit(c.surface);
}
const xdg_surface_listener surfaceListener{surfaceConfigure};

// --- pointer -------------------------------------------------------------------

const char* axisName(std::uint32_t axis) {
  return axis == WL_POINTER_AXIS_VERTICAL_SCROLL ? "vertical" : "horizontal";
}

void pointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
  auto& c = *static_cast<Client*>(data);
  if (c.cursorSurface != nullptr) wl_pointer_set_cursor(pointer, serial, c.cursorSurface, 0, 0);
  say("pointer-enter " + number(wl_fixed_to_double(x)) + " " + number(wl_fixed_to_double(y)));
}
void pointerLeave(void*, wl_pointer*, std::uint32_t, wl_surface*) { say("pointer-leave"); }
void pointerMotion(void*, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
  say("motion " + number(wl_fixed_to_double(x)) + " " + number(wl_fixed_to_double(y)));
}
void pointerButton(void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button, std::uint32_t state) {
  say("button " + std::to_string(button) + (state == WL_POINTER_BUTTON_STATE_PRESSED ? " down" : " up"));
}
void pointerAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t axis, wl_fixed_t value) {
  say(std::string("axis ") + axisName(axis) + " " + number(wl_fixed_to_double(value)));
}
void pointerFrame(void*, wl_pointer*) { say("frame"); }
void pointerAxisSource(void*, wl_pointer*, std::uint32_t source) {
  const char* names[] = {"wheel", "finger", "continuous", "wheel-tilt"};
  say(std::string("axis-source ") + (source < 4 ? names[source] : "other"));
}
void pointerAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t axis) {
  say(std::string("axis-stop ") + axisName(axis));
}
void pointerAxisDiscrete(void*, wl_pointer*, std::uint32_t axis, std::int32_t steps) {
  say(std::string("axis-discrete ") + axisName(axis) + " " + std::to_string(steps));
}
const wl_pointer_listener pointerListener{pointerEnter, pointerLeave,      pointerMotion,   pointerButton,
                                          pointerAxis,  pointerFrame,      pointerAxisSource, pointerAxisStop,
                                          pointerAxisDiscrete, nullptr};

// --- keyboard ------------------------------------------------------------------

void keyboardKeymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
  auto& c = *static_cast<Client*>(data);
  if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
    close(fd);
    return;
  }
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) return;
  xkb_keymap* keymap = xkb_keymap_new_from_string(c.xkb, static_cast<const char*>(mapped),
                                                  XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
  munmap(mapped, size);
  if (keymap == nullptr) return;
  if (c.state != nullptr) xkb_state_unref(c.state);
  if (c.keymap != nullptr) xkb_keymap_unref(c.keymap);
  c.keymap = keymap;
  c.state = xkb_state_new(keymap);
  say(std::string("keymap ") + xkb_keymap_layout_get_name(keymap, 0));
}
void keyboardEnter(void* data, wl_keyboard*, std::uint32_t serial, wl_surface*, wl_array*) {
  static_cast<Client*>(data)->keyboardSerial = serial;
  say("keyboard-enter");
}
void keyboardLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) { say("keyboard-leave"); }

void keyboardKey(void* data, wl_keyboard*, std::uint32_t serial, std::uint32_t, std::uint32_t key, std::uint32_t state) {
  auto& c = *static_cast<Client*>(data);
  c.keyboardSerial = serial;
  if (c.state == nullptr) return;
  const xkb_keycode_t code = key + 8;
  const xkb_keysym_t sym = xkb_state_key_get_one_sym(c.state, code);
  char name[64];
  xkb_keysym_get_name(sym, name, sizeof name);
  const bool down = state == WL_KEYBOARD_KEY_STATE_PRESSED;
  const std::string mods = modifiers(c);
  say(std::string("key ") + name + (down ? " down " : " up ") + mods);
  if (!down) return;

  if (c.hexEntry) {
    if (sym == XKB_KEY_space || sym == XKB_KEY_Return || sym == XKB_KEY_KP_Enter) {
      const std::string digits = *c.hexEntry;
      c.hexEntry.reset();
      if (!digits.empty()) say("text " + utf8(static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16))));
    } else if (sym == XKB_KEY_Escape) {
      c.hexEntry.reset();
    } else if (std::isxdigit(static_cast<int>(xkb_keysym_to_utf32(sym))) != 0) {
      c.hexEntry->push_back(static_cast<char>(xkb_keysym_to_utf32(sym)));
    }
    return;
  }
  if ((sym == XKB_KEY_u || sym == XKB_KEY_U) && mods == "ctrl+shift") {
    c.hexEntry = std::string();
    return;
  }
  if (mods.find("ctrl") != std::string::npos || mods.find("alt") != std::string::npos ||
      mods.find("super") != std::string::npos) {
    return;  // a shortcut, not text
  }
  char text[16];
  if (xkb_state_key_get_utf8(c.state, code, text, sizeof text) > 0 && static_cast<unsigned char>(text[0]) >= 0x20 &&
      text[0] != 0x7F) {
    say(std::string("text ") + text);
  }
}

void keyboardModifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
                       std::uint32_t locked, std::uint32_t group) {
  auto& c = *static_cast<Client*>(data);
  if (c.state != nullptr) xkb_state_update_mask(c.state, depressed, latched, locked, 0, 0, group);
}
void keyboardRepeat(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener keyboardListener{keyboardKeymap, keyboardEnter,     keyboardLeave,
                                            keyboardKey,    keyboardModifiers, keyboardRepeat};


// --- clipboard -----------------------------------------------------------------

void offerType(void* data, wl_data_offer*, const char* type) {
  static_cast<Client*>(data)->incomingTypes.emplace_back(type);
}
void offerSourceActions(void*, wl_data_offer*, std::uint32_t) {}
void offerAction(void*, wl_data_offer*, std::uint32_t) {}
const wl_data_offer_listener offerListener{offerType, offerSourceActions, offerAction};

void deviceDataOffer(void* data, wl_data_device*, wl_data_offer* offer) {
  auto& c = *static_cast<Client*>(data);
  if (c.incoming != nullptr && c.incoming != c.selection) wl_data_offer_destroy(c.incoming);
  c.incoming = offer;
  c.incomingTypes.clear();
  wl_data_offer_add_listener(offer, &offerListener, &c);
}
void deviceEnter(void*, wl_data_device*, std::uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t, wl_data_offer*) {}
void deviceLeave(void*, wl_data_device*) {}
void deviceMotion(void*, wl_data_device*, std::uint32_t, wl_fixed_t, wl_fixed_t) {}
void deviceDrop(void*, wl_data_device*) {}
void deviceSelection(void* data, wl_data_device*, wl_data_offer* offer) {
  auto& c = *static_cast<Client*>(data);
  if (c.selection != nullptr && c.selection != offer) wl_data_offer_destroy(c.selection);
  c.selection = offer;
  c.selectionTypes = offer != nullptr && offer == c.incoming ? c.incomingTypes : std::vector<std::string>{};
  if (offer == c.incoming) c.incoming = nullptr;
}
const wl_data_device_listener deviceListener{deviceDataOffer, deviceEnter, deviceLeave,
                                             deviceMotion,    deviceDrop,  deviceSelection};

void writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the reader went away
    done += static_cast<std::size_t>(n);
  }
}

void sourceTarget(void*, wl_data_source*, const char*) {}
void sourceSend(void* data, wl_data_source*, const char*, std::int32_t fd) {
  auto& c = *static_cast<Client*>(data);
  if (c.silent) {
    c.unanswered.push_back(fd);
    return;
  }
  // Written by a child of its own, as a toolkit writes in the background:
  // a reader that takes its time holds up neither the window nor the next
  // reader.
  if (fork() == 0) {
    writeAll(fd, c.copied);
    _exit(0);
  }
  close(fd);
}
void sourceCancelled(void* data, wl_data_source* source) {
  auto& c = *static_cast<Client*>(data);
  if (c.source == source) c.source = nullptr;
  wl_data_source_destroy(source);
  // Replaced: the readers a silent source kept waiting get nothing.
  for (const int fd : c.unanswered) close(fd);
  c.unanswered.clear();
}
void sourceDndDropPerformed(void*, wl_data_source*) {}
void sourceDndFinished(void*, wl_data_source*) {}
void sourceAction(void*, wl_data_source*, std::uint32_t) {}
const wl_data_source_listener sourceListener{sourceTarget,           sourceSend,        sourceCancelled,
                                             sourceDndDropPerformed, sourceDndFinished, sourceAction};

void copiedDone(void*, wl_callback* callback, std::uint32_t) {
  wl_callback_destroy(callback);
  say("copied");
}
const wl_callback_listener copiedListener{copiedDone};

void copy(Client& c, std::string text, bool silent = false) {
  if (c.dataDevice == nullptr) {
    std::fprintf(stderr, "wayland-test-client: the compositor has no data device\n");
    return;
  }
  c.copied = std::move(text);
  c.silent = silent;
  c.source = wl_data_device_manager_create_data_source(c.dataDeviceManager);
  wl_data_source_add_listener(c.source, &sourceListener, &c);
  wl_data_source_offer(c.source, "text/plain;charset=utf-8");
  wl_data_source_offer(c.source, "text/plain");
  wl_data_device_set_selection(c.dataDevice, c.source, c.keyboardSerial);
  wl_callback_add_listener(wl_display_sync(c.display), &copiedListener, &c);
}

void paste(Client& c) {
  // Whatever the compositor said of the clipboard before this, heard first.
  wl_display_roundtrip(c.display);
  const char* type = nullptr;
  for (const char* preferred : {"text/plain;charset=utf-8", "text/plain"}) {
    for (const auto& t : c.selectionTypes) {
      if (type == nullptr && t == preferred) type = preferred;
    }
  }
  if (c.selection == nullptr || type == nullptr) {
    say("clipboard none");
    return;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
  wl_data_offer_receive(c.selection, type, fds[1]);
  close(fds[1]);
  wl_display_flush(c.display);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  std::string shown;
  for (const char ch : text) shown += ch == '\n' ? std::string("\\n") : std::string(1, ch);
  say("clipboard " + std::to_string(text.size()) + " " + shown);
}

// --- seat and registry -----------------------------------------------------------

void seatCapabilities(void* data, wl_seat* seat, std::uint32_t caps) {
  auto& c = *static_cast<Client*>(data);
  if ((caps & WL_SEAT_CAPABILITY_POINTER) != 0 && c.pointer == nullptr) {
    c.pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(c.pointer, &pointerListener, &c);
  }
  if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && c.keyboard == nullptr) {
    c.keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(c.keyboard, &keyboardListener, &c);
  }
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener{seatCapabilities, seatName};

void registryGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                    std::uint32_t version) {
  auto& c = *static_cast<Client*>(data);
  const auto is = [&](const wl_interface& i) { return std::strcmp(interface, i.name) == 0; };
  if (is(wl_compositor_interface)) {
    c.compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
  } else if (is(wl_shm_interface)) {
    c.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (is(wl_seat_interface) && c.seat == nullptr) {
    c.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 7u)));
    wl_seat_add_listener(c.seat, &seatListener, &c);
  } else if (is(wl_data_device_manager_interface)) {
    c.dataDeviceManager = static_cast<wl_data_device_manager*>(
        wl_registry_bind(registry, name, &wl_data_device_manager_interface, std::min(version, 3u)));
  } else if (is(xdg_wm_base_interface)) {
    c.wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    xdg_wm_base_add_listener(c.wmBase, &wmBaseListener, &c);
  }
}
void registryGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener registryListener{registryGlobal, registryGlobalRemove};

// Serves the display and the commands on stdin until the compositor goes
// away. Once stdin ends, only the display is served.
int run(Client& c) {
  const int displayFd = wl_display_get_fd(c.display);
  int inputFd = STDIN_FILENO;
  std::string input;
  for (;;) {
    while (wl_display_prepare_read(c.display) != 0) {
      if (wl_display_dispatch_pending(c.display) < 0) return 0;
    }
    const bool unsent = wl_display_flush(c.display) < 0 && errno == EAGAIN;
    pollfd fds[2] = {{displayFd, static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0}, {inputFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      wl_display_cancel_read(c.display);
      if (errno == EINTR) continue;
      return 1;
    }
    if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      if (wl_display_read_events(c.display) < 0) return 0;  // the compositor is gone
    } else {
      wl_display_cancel_read(c.display);
    }
    if (wl_display_dispatch_pending(c.display) < 0) return 0;
    if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[256];
    const ssize_t n = read(inputFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      inputFd = -1;  // poll() skips it from now on
      continue;
    }
    input.append(buffer, static_cast<std::size_t>(n));
    for (auto newline = input.find('\n'); newline != std::string::npos; newline = input.find('\n')) {
      const std::string command = input.substr(0, newline);
      input.erase(0, newline + 1);
      if (command == "sync") {
        requestSync(c);
      } else if (command.rfind("copy ", 0) == 0) {
        copy(c, command.substr(5));
      } else if (command.rfind("copy-silent ", 0) == 0) {
        copy(c, command.substr(12), true);
      } else if (command.rfind("copy-large ", 0) == 0) {
        std::string text(std::stoul(command.substr(11)), 'a');
        for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
        copy(c, std::move(text));
      } else if (command == "paste") {
        paste(c);
      } else {
        std::fprintf(stderr, "wayland-test-client: unknown command \"%s\"\n", command.c_str());
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string appId = "wayland-test-client";
  std::string title = "wayland-test-client";
  bool fullScreen = true;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--windowed") {
      fullScreen = false;
    } else if ((option == "--app-id" || option == "--title") && i + 1 < argc) {
      (option == "--app-id" ? appId : title) = argv[++i];
    } else {
      std::fprintf(stderr, "wayland-test-client: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  Client c;
  c.display = wl_display_connect(nullptr);
  if (c.display == nullptr) {
    std::fprintf(stderr, "wayland-test-client: no Wayland display\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(c.display);
  wl_registry_add_listener(registry, &registryListener, &c);
  wl_display_roundtrip(c.display);
  if (c.compositor == nullptr || c.shm == nullptr || c.wmBase == nullptr || c.seat == nullptr) {
    std::fprintf(stderr, "wayland-test-client: the compositor lacks a global this client needs\n");
    return 1;
  }
  // A reader that leaves mid-transfer must not end the window (nor its
  // writers, which nobody waits for).
  signal(SIGPIPE, SIG_IGN);
  signal(SIGCHLD, SIG_IGN);
  if (c.dataDeviceManager != nullptr) {
    c.dataDevice = wl_data_device_manager_get_data_device(c.dataDeviceManager, c.seat);
    wl_data_device_add_listener(c.dataDevice, &deviceListener, &c);
  }
  c.cursorSurface = wl_compositor_create_surface(c.compositor);
  wl_surface_attach(c.cursorSurface, shmBuffer(c, 8, 8, WL_SHM_FORMAT_ARGB8888, [](int, int) { return 0xFF000000u; }),
                    0, 0);
  wl_surface_damage(c.cursorSurface, 0, 0, 8, 8);
  wl_surface_commit(c.cursorSurface);
  c.surface = wl_compositor_create_surface(c.compositor);
  c.xdgSurface = xdg_wm_base_get_xdg_surface(c.wmBase, c.surface);
  xdg_surface_add_listener(c.xdgSurface, &surfaceListener, &c);
  c.toplevel = xdg_surface_get_toplevel(c.xdgSurface);
  xdg_toplevel_add_listener(c.toplevel, &toplevelListener, &c);
  xdg_toplevel_set_title(c.toplevel, title.c_str());
  xdg_toplevel_set_app_id(c.toplevel, appId.c_str());
  if (fullScreen) xdg_toplevel_set_fullscreen(c.toplevel, nullptr);
  wl_surface_commit(c.surface);
  return run(c);
}
