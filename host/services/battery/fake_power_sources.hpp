#pragma once

#include "host/services/battery/power_sources.hpp"

namespace glidemate::host {

// Power sources for tests: whatever the test puts in the list.
class FakePowerSources final : public PowerSources {
 public:
  explicit FakePowerSources(std::vector<Source> initial = {}) : list(std::move(initial)) {}
  std::vector<Source> sources() override { return list; }

  std::vector<Source> list;
};

}  // namespace glidemate::host
