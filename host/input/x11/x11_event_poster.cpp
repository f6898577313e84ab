#include "host/input/x11/x11_event_poster.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <set>
#include <span>
#include <string>

#include "host/input/x11/spare_keycode_pool.hpp"
#include "host/input/x11/wheel_notch_accumulator.hpp"
#include "host/x11/x11_error.hpp"
#include "host/x11/x11_error_trap.hpp"
#include "host/input/x11/x11_key_table.hpp"
#include "host/x11/xsettings.hpp"
#include "kit/input/scroll_event.hpp"

namespace glidemate::host {
namespace {

constexpr auto defaultDoubleClickInterval = std::chrono::milliseconds(400);

// Root coordinates travel as 16-bit integers in the protocol.
std::optional<int> rootCoordinate(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  return static_cast<int>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

template <class T>
struct XFreeDeleter {
  void operator()(T* p) const { XFree(p); }
};

struct ScreenResourcesDeleter {
  void operator()(XRRScreenResources* p) const { XRRFreeScreenResources(p); }
};
struct CrtcInfoDeleter {
  void operator()(XRRCrtcInfo* p) const { XRRFreeCrtcInfo(p); }
};
struct OutputInfoDeleter {
  void operator()(XRROutputInfo* p) const { XRRFreeOutputInfo(p); }
};
using ScreenResources = std::unique_ptr<XRRScreenResources, ScreenResourcesDeleter>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, CrtcInfoDeleter>;
using OutputInfo = std::unique_ptr<XRROutputInfo, OutputInfoDeleter>;

}  // namespace

struct X11EventPoster::State {
  Display* display = nullptr;
  Window root = 0;
  bool hasRandr = false;
  bool hasXfixes = false;
  bool cursorHidden = false;
  std::unique_ptr<SpareKeycodePool> spareKeycodes;
  WheelNotchAccumulator notches;
  // Modifier keys (by virtual key) held down by posted events, so that a
  // key whose flags name a modifier is only wrapped in a press of it when
  // nobody holds it already.
  std::set<std::uint16_t> heldModifiers;

  explicit State(double pointsPerNotch) : notches(pointsPerNotch) {}

  ~State() {
    if (display == nullptr) return;
    if (cursorHidden && hasXfixes) XFixesShowCursor(display, root);
    spareKeycodes.reset();
    XCloseDisplay(display);
  }

  // Xlib keeps every event the server sends (keymap changes reach every
  // client) until it is read: read them so the queue stays small, and keep
  // our own keymap cache current.
  void drainEvents() {
    while (XEventsQueued(display, QueuedAfterReading) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
    }
  }

  // A keycode that types `keysym` with no modifier held.
  std::optional<KeyCode> keycodeFor(KeySym keysym) {
    const KeyCode code = XKeysymToKeycode(display, keysym);
    if (code != 0 && XkbKeycodeToKeysym(display, code, 0, 0) == keysym) return code;
    return spareKeycodes->keycodeFor(keysym);
  }

  void tapKeysym(KeySym keysym, bool down) {
    if (const auto code = keycodeFor(keysym)) XTestFakeKeyEvent(display, *code, down ? True : False, CurrentTime);
  }

  void moveTo(ScreenPoint location) {
    const auto x = rootCoordinate(location.x), y = rootCoordinate(location.y);
    if (x && y) XTestFakeMotionEvent(display, -1, *x, *y, CurrentTime);
  }

  void postMouse(const MouseEvent& e) {
    moveTo(e.location);
    // The click-state field has no X counterpart: clients count clicks.
    const unsigned button = e.button == EventMouseButton::right ? 3 : 1;
    switch (e.type) {
      case EventType::leftMouseDown:
      case EventType::rightMouseDown: XTestFakeButtonEvent(display, button, True, CurrentTime); break;
      case EventType::leftMouseUp:
      case EventType::rightMouseUp: XTestFakeButtonEvent(display, button, False, CurrentTime); break;
      default: break;  // moves and drags: the motion is all there is
    }
  }

  void clickWheel(unsigned button, int times) {
    for (int i = 0; i < times; ++i) {
      XTestFakeButtonEvent(display, button, True, CurrentTime);
      XTestFakeButtonEvent(display, button, False, CurrentTime);
    }
  }

  void postScroll(const ScrollWheelEvent& e) {
    const auto phase = e.integerFields.get(EventField::scrollWheelEventScrollPhase);
    if (phase == static_cast<std::int64_t>(ScrollPhaseField::mayBegin) ||
        phase == static_cast<std::int64_t>(ScrollPhaseField::began)) {
      notches.reset();
    }
    double vertical = e.doubleFields.get(EventField::scrollWheelEventPointDeltaAxis1).value_or(e.wheel1);
    double horizontal = e.doubleFields.get(EventField::scrollWheelEventPointDeltaAxis2).value_or(e.wheel2);
    if (e.units == ScrollEventUnit::line) {
      vertical *= WheelNotchAccumulator::defaultPointsPerNotch;
      horizontal *= WheelNotchAccumulator::defaultPointsPerNotch;
    }
    const auto n = notches.add(vertical, horizontal);
    // Positive deltas scroll up and left, as a wheel rolled away does.
    clickWheel(n.vertical > 0 ? 4 : 5, std::abs(n.vertical));
    clickWheel(n.horizontal > 0 ? 6 : 7, std::abs(n.horizontal));
  }

  void postKeyboard(const KeyboardEvent& e) {
    if (!e.unicodeString.empty()) {
      // The text is typed when the key goes down; its key-up has nothing
      // left to do.
      if (!e.keyDown) return;
      for (const char32_t c : codePointsOf(e.unicodeString)) {
        if (const auto keysym = keysymForCharacter(c)) {
          tapKeysym(*keysym, true);
          tapKeysym(*keysym, false);
        }
      }
      return;
    }
    const auto keysym = keysymForVirtualKey(e.virtualKey);
    if (!keysym) return;
    const bool isModifier =
        std::any_of(modifierKeys.begin(), modifierKeys.end(), [&](const ModifierKey& m) { return m.virtualKey == e.virtualKey; });
    if (isModifier) {
      if (e.keyDown) heldModifiers.insert(e.virtualKey);
      else heldModifiers.erase(e.virtualKey);
      tapKeysym(*keysym, e.keyDown);
      return;
    }
    // Flags naming a modifier nobody holds: hold it around this key alone.
    std::vector<KeySym> wrapped;
    for (const auto& m : modifierKeys) {
      if (e.flags && (*e.flags & m.flag) && !heldModifiers.contains(m.virtualKey)) {
        wrapped.push_back(*keysymForVirtualKey(m.virtualKey));
      }
    }
    for (const KeySym m : wrapped) tapKeysym(m, true);
    tapKeysym(*keysym, e.keyDown);
    for (auto m = wrapped.rbegin(); m != wrapped.rend(); ++m) tapKeysym(*m, false);
  }

  void postSystemDefined(const SystemDefinedEvent& e) {
    if (e.subtype != SystemDefinedEvent::auxControlButtons) return;
    const auto keyType = static_cast<std::int32_t>((e.data1 >> 16) & 0xFFFF);
    const auto state = (e.data1 >> 8) & 0xFF;
    const auto keysym = keysymForAuxControlKey(keyType);
    if (!keysym || (state != 0xA && state != 0xB)) return;
    tapKeysym(*keysym, state == 0xA);
  }

  std::optional<double> refreshRate(XRRScreenResources* resources, RROutput output) {
    const OutputInfo info(XRRGetOutputInfo(display, resources, output));
    if (!info || info->crtc == 0) return std::nullopt;
    const CrtcInfo crtc(XRRGetCrtcInfo(display, resources, info->crtc));
    if (!crtc || crtc->mode == 0) return std::nullopt;
    for (int i = 0; i < resources->nmode; ++i) {
      const XRRModeInfo& mode = resources->modes[i];
      if (mode.id != crtc->mode) continue;
      double vTotal = mode.vTotal;
      if (mode.modeFlags & RR_DoubleScan) vTotal *= 2;
      if (mode.modeFlags & RR_Interlace) vTotal /= 2;
      if (mode.dotClock == 0 || mode.hTotal == 0 || vTotal == 0) return std::nullopt;
      return static_cast<double>(mode.dotClock) / (mode.hTotal * vTotal);
    }
    return std::nullopt;
  }
};

X11EventPoster::X11EventPoster(const std::string& displayName, double pointsPerNotch)
    : state_(std::make_unique<State>(pointsPerNotch)) {
  X11ErrorTrap::makeErrorsHarmless();
  state_->display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (state_->display == nullptr) {
    const char* fromEnvironment = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    throw X11Error::cannotOpenDisplay(
        !displayName.empty() ? displayName : (fromEnvironment != nullptr ? fromEnvironment : ""),
        wayland != nullptr && wayland[0] != '\0');
  }
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(state_->display, &eventBase, &errorBase, &major, &minor)) {
    throw X11Error::missingExtension("XTEST");
  }
  state_->root = DefaultRootWindow(state_->display);
  state_->hasRandr = XRRQueryExtension(state_->display, &eventBase, &errorBase) != 0;
  state_->hasXfixes = XFixesQueryExtension(state_->display, &eventBase, &errorBase) != 0;
  // Our own presses must go through while another client grabs the server.
  XTestGrabControl(state_->display, True);
  state_->spareKeycodes = std::make_unique<SpareKeycodePool>(state_->display);
}

X11EventPoster::~X11EventPoster() = default;

std::optional<EventSource> X11EventPoster::createSource(EventSourceStateId stateId) {
  return EventSource{stateId};
}

std::optional<ScreenPoint> X11EventPoster::cursorLocation() {
  Window rootReturn = 0, child = 0;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  if (!XQueryPointer(state_->display, state_->root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask)) {
    return std::nullopt;  // the pointer is on another screen
  }
  return ScreenPoint{static_cast<double>(rootX), static_cast<double>(rootY)};
}

void X11EventPoster::post(const InputEvent& event, EventTapLocation) {
  std::visit(
      [this](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, MouseEvent>) state_->postMouse(e);
        else if constexpr (std::is_same_v<E, ScrollWheelEvent>) state_->postScroll(e);
        else if constexpr (std::is_same_v<E, KeyboardEvent>) state_->postKeyboard(e);
        else state_->postSystemDefined(e);
      },
      event);
  XFlush(state_->display);
  state_->drainEvents();
}

std::optional<std::vector<ScreenRect>> X11EventPoster::activeDisplayBounds() {
  std::vector<ScreenRect> rects;
  if (state_->hasRandr) {
    const ScreenResources resources(XRRGetScreenResourcesCurrent(state_->display, state_->root));
    for (int i = 0; resources && i < resources->ncrtc; ++i) {
      const CrtcInfo crtc(XRRGetCrtcInfo(state_->display, resources.get(), resources->crtcs[i]));
      if (!crtc || crtc->mode == 0 || crtc->noutput == 0) continue;
      rects.push_back({static_cast<double>(crtc->x), static_cast<double>(crtc->y),
                       static_cast<double>(crtc->width), static_cast<double>(crtc->height)});
    }
  }
  if (rects.empty()) {
    // No XRandR, or no active CRTC (as on some virtual servers): the root
    // window is the one display.
    const int screen = DefaultScreen(state_->display);
    rects.push_back({0, 0, static_cast<double>(DisplayWidth(state_->display, screen)),
                     static_cast<double>(DisplayHeight(state_->display, screen))});
  }
  return rects;
}

std::optional<double> X11EventPoster::mainDisplayRefreshRate() {
  if (!state_->hasRandr) return std::nullopt;
  const ScreenResources resources(XRRGetScreenResourcesCurrent(state_->display, state_->root));
  if (!resources) return std::nullopt;
  if (const RROutput primary = XRRGetOutputPrimary(state_->display, state_->root)) {
    if (auto rate = state_->refreshRate(resources.get(), primary)) return rate;
  }
  for (int i = 0; i < resources->noutput; ++i) {
    if (auto rate = state_->refreshRate(resources.get(), resources->outputs[i])) return rate;
  }
  return std::nullopt;
}

std::chrono::duration<double> X11EventPoster::doubleClickInterval() {
  Display* display = state_->display;
  const std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(display));
  const Window owner = XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False));
  if (owner == 0) return defaultDoubleClickInterval;

  const Atom settingsAtom = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* raw = nullptr;
  {
    // The settings manager may go away between the two requests.
    X11ErrorTrap trap(display);
    const int status = XGetWindowProperty(display, owner, settingsAtom, 0, LONG_MAX / 4, False, settingsAtom,
                                          &type, &format, &count, &remaining, &raw);
    if (trap.failed() || status != Success) {
      if (raw != nullptr) XFree(raw);
      return defaultDoubleClickInterval;
    }
  }
  const std::unique_ptr<unsigned char, XFreeDeleter<unsigned char>> data(raw);
  if (!data || format != 8) return defaultDoubleClickInterval;
  const auto ms = xsettingsInteger(std::span<const std::uint8_t>(data.get(), count), "Net/DoubleClickTime");
  if (!ms || *ms <= 0) return defaultDoubleClickInterval;
  return std::chrono::milliseconds(*ms);
}

bool X11EventPoster::isSecureEventInputEnabled() {
  // Taking the keyboard for an instant tells whether someone else holds it.
  const int result =
      XGrabKeyboard(state_->display, state_->root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
  if (result == GrabSuccess) {
    // Wait until the server has let go, so that no other client finds the
    // keyboard taken by this probe.
    XUngrabKeyboard(state_->display, CurrentTime);
    XSync(state_->display, False);
    return false;
  }
  return result == AlreadyGrabbed || result == GrabFrozen;
}

void X11EventPoster::hideCursor() {
  if (!state_->hasXfixes || state_->cursorHidden) return;
  XFixesHideCursor(state_->display, state_->root);
  XFlush(state_->display);
  state_->cursorHidden = true;
}

void X11EventPoster::showCursor() {
  if (!state_->hasXfixes || !state_->cursorHidden) return;
  XFixesShowCursor(state_->display, state_->root);
  XFlush(state_->display);
  state_->cursorHidden = false;
}

}  // namespace glidemate::host
