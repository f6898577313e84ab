#include "tests/host/input/remote_desktop/fake_remote_desktop_session.hpp"

#include <cstdio>

namespace glidemate::host {
namespace {

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

const char* state(bool down) { return down ? "down" : "up"; }

}  // namespace

void FakeRemoteDesktopSession::pointerMotionRelative(double dx, double dy) {
  calls.push_back("relative " + number(dx) + " " + number(dy));
}

bool FakeRemoteDesktopSession::pointerMotionAbsolute(ScreenPoint position) {
  calls.push_back("absolute " + number(position.x) + " " + number(position.y));
  pointer = position;
  return true;
}

void FakeRemoteDesktopSession::pointerButton(std::int32_t button, bool pressed) {
  calls.push_back("button " + std::to_string(button) + " " + state(pressed));
}

void FakeRemoteDesktopSession::pointerAxis(double dx, double dy, bool finish) {
  calls.push_back("axis " + number(dx) + " " + number(dy) + (finish ? " finish" : ""));
}

void FakeRemoteDesktopSession::keyboardKeycode(std::uint32_t key, bool pressed) {
  calls.push_back("key " + std::to_string(key) + " " + state(pressed));
}

void FakeRemoteDesktopSession::keyboardKeysym(std::uint32_t keysym, bool pressed) {
  calls.push_back("keysym " + hex(keysym) + " " + state(pressed));
}

}  // namespace glidemate::host
