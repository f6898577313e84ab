// Test helper: where the test Wayland window saw the pointer once all
// input sent to its compositor has reached it.
#pragma once

#include <functional>

#include "host/input/remote_desktop/remote_desktop_session.hpp"
#include "tests/support/child_process.hpp"

namespace glidemate::testing {

// Where `window` (the test Wayland window) last saw the pointer, or
// {-1, -1}, once everything sent through `session` has reached it: a tap
// of Shift is sent last and let out by `flush`; once the window has the
// tap, the compositor has taken in all before it, and a frame drawn after
// that carries the motion it hands on only at its next frame.
host::ScreenPoint settledPointer(host::RemoteDesktopSession& session, const std::function<void()>& flush,
                                 ChildProcess& window);

}  // namespace glidemate::testing
