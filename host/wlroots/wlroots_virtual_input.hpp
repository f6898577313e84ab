#pragma once

// host/wlroots: what the host asks of a wlroots compositor (sway and its
// kin) over its own Wayland connection: a virtual pointer and a virtual
// keyboard for input.

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <memory>
#include <string>

#include "host/input/remote_desktop/keyboard_layout.hpp"
#include "host/input/remote_desktop/remote_desktop_session.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// Input through a wlroots compositor's virtual pointer
// (zwlr_virtual_pointer_manager_v1) and virtual keyboard
// (zwp_virtual_keyboard_manager_v1), on a Wayland connection of its own
// whose descriptor the main executor waits on; nothing blocks.
//
// The keyboard carries the host's own keymap, extended with any keysym it
// lacks, so every character is typed as itself; modifiers follow the keys
// pressed. The compositor does not tell clients where its pointer is, so
// pointerPosition() stays empty and moves are relative: the compositor
// keeps the pointer on its outputs. While the pointer is tracked (the
// laser dot shows) its place is made known instead: it is put where it was
// believed to be and followed from there through this session's own
// moves, kept on the outputs as wlroots keeps it; a real mouse moving it
// meanwhile goes unseen. Monitors come from xdg-output.
//
// When the compositor goes away, input is dropped (said once) until it is
// back: its socket reappearing is tried at once; otherwise input asking
// for it tries again, at most once per `retryInterval`. Main executor only.
class WlrootsVirtualInput final : public RemoteDesktopSession {
 public:
  struct Options {
    // The compositor's socket as WAYLAND_DISPLAY names it; empty: the
    // environment's.
    std::string display;
    std::chrono::milliseconds retryInterval{3000};
  };

  WlrootsVirtualInput(const asio::any_io_executor& executor, Logger& logger, Options options);
  ~WlrootsVirtualInput() override;
  WlrootsVirtualInput(const WlrootsVirtualInput&) = delete;
  WlrootsVirtualInput& operator=(const WlrootsVirtualInput&) = delete;

  bool isReady() const override;
  std::uint64_t generation() const override;
  void inputWanted() override;
  void pointerMotionRelative(double dx, double dy) override;
  bool pointerMotionAbsolute(ScreenPoint position) override;
  void pointerButton(std::int32_t button, bool pressed) override;
  void pointerAxis(double dx, double dy, bool finish) override;
  void keyboardKeycode(std::uint32_t key, bool pressed) override;
  void keyboardKeysym(std::uint32_t keysym, bool pressed) override;
  std::optional<ScreenPoint> pointerPosition() const override;
  void trackPointer(std::optional<ScreenPoint> believed) override;
  void stopTrackingPointer() override;
  std::optional<std::vector<ScreenRect>> monitors() const override;
  std::optional<double> refreshRate() const override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// The virtual keyboard types every keysym, so the poster never needs a
// Unicode entry.
class VirtualKeyboardLayout final : public KeyboardLayout {
 public:
  std::optional<bool> types(std::uint32_t) const override { return true; }
};

// Whether the Wayland compositor at `display` (empty: the environment's)
// offers both virtual-input managers. Waits at most `timeout` for its
// answer; meant for the host's start.
bool offersVirtualInput(const std::string& display, std::chrono::milliseconds timeout);

}  // namespace glidemate::host
