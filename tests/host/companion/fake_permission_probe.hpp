// Test helper: a permission probe whose answers the test sets, counting
// how often it was asked.
#pragma once

#include "host/companion/permission_probe.hpp"

namespace glidemate::host::testing {

struct FakePermissionProbe final : PermissionProbe {
  Check inputAnswer{false, "no display"};
  Check captureAnswer{true, {}};
  Check busAnswer{true, {}};
  int inputChecks = 0;
  int asked = 0;

  Check input() override {
    ++inputChecks;
    return inputAnswer;
  }
  bool askForInputAgain() override {
    ++asked;
    return true;
  }
  Check capture() override { return captureAnswer; }
  Check sessionBus() override { return busAnswer; }
};

}  // namespace glidemate::host::testing
