#pragma once

#include <string>
#include <vector>

#include "host/input/remote_desktop/remote_desktop_session.hpp"

namespace glidemate::host {

// Records every call as one line ("key 28 down", "keysym 0xe9 up",
// "relative 1.5 -2", "absolute 10 20", "button 272 down",
// "axis 0 -3 finish"), and answers the queries from its fields.
class FakeRemoteDesktopSession final : public RemoteDesktopSession {
 public:
  bool ready = true;
  std::uint64_t sessionGeneration = 1;
  int inputWantedCount = 0;
  std::optional<ScreenPoint> pointer;
  std::optional<std::vector<ScreenRect>> monitorRects;
  std::optional<double> rate;
  std::vector<std::string> calls;

  bool isReady() const override { return ready; }
  std::uint64_t generation() const override { return sessionGeneration; }
  void inputWanted() override { ++inputWantedCount; }
  void pointerMotionRelative(double dx, double dy) override;
  bool pointerMotionAbsolute(ScreenPoint position) override;
  void pointerButton(std::int32_t button, bool pressed) override;
  void pointerAxis(double dx, double dy, bool finish) override;
  void keyboardKeycode(std::uint32_t key, bool pressed) override;
  void keyboardKeysym(std::uint32_t keysym, bool pressed) override;
  std::optional<ScreenPoint> pointerPosition() const override { return pointer; }
  std::optional<std::vector<ScreenRect>> monitors() const override { return monitorRects; }
  std::optional<double> refreshRate() const override { return rate; }
};

}  // namespace glidemate::host
