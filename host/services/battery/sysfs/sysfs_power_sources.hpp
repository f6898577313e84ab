#pragma once

#include <filesystem>

#include "host/services/battery/power_sources.hpp"

namespace glidemate::host {

// The kernel's power-supply class: one folder per supply under the root,
// each with small text files ("type", "status", "energy_now", ...). A
// battery whose "scope" is "Device" belongs to a peripheral, not to this
// computer. Files that are missing, unreadable or hold no number count as
// absent.
class SysfsPowerSources final : public PowerSources {
 public:
  static constexpr const char* defaultRoot = "/sys/class/power_supply";

  explicit SysfsPowerSources(std::filesystem::path root = defaultRoot);

  // In the order of the supplies' names (BAT0 before BAT1).
  std::vector<Source> sources() override;

 private:
  std::filesystem::path root_;
};

}  // namespace glidemate::host
