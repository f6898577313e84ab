#include "tests/support/wayland/settled_pointer.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <chrono>
#include <sstream>
#include <string>

namespace glidemate::testing {

host::ScreenPoint settledPointer(host::RemoteDesktopSession& session, const std::function<void()>& flush,
                                 ChildProcess& window) {
  // Only turns a hang into a failure.
  constexpr std::chrono::milliseconds patience{30000};
  session.keyboardKeycode(KEY_LEFTSHIFT, true);
  session.keyboardKeycode(KEY_LEFTSHIFT, false);
  flush();
  host::ScreenPoint last{-1, -1};
  for (;;) {
    const std::string line = window.readLineContaining("", patience);
    if (line.empty()) {
      ADD_FAILURE() << "the window did not sync";
      return last;
    }
    if (line == "synced") return last;
    if (line.rfind("key Shift_L up", 0) == 0) window.writeLine("sync");
    if (line.rfind("motion ", 0) == 0 || line.rfind("pointer-enter ", 0) == 0) {
      // "motion 820 500" -> (820, 500)
      std::istringstream in(line);
      std::string word;
      in >> word >> last.x >> last.y;
    }
  }
}

}  // namespace glidemate::testing
