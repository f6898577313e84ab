#pragma once

// host/services/battery: the computer's own battery as the phone shows it.
// BatteryService holds the rules (which battery counts, how the percentage
// is worked out); PowerSources is what it needs of the platform (sysfs/ on
// Linux reads the kernel's power-supply class).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// The power sources the platform knows of, each as it describes itself.
// Values it cannot read are absent; nothing here throws.
class PowerSources {
 public:
  struct Source {
    // A battery that powers this computer (not a mouse's or a phone's).
    bool isInternalBattery = false;
    bool isPresent = false;
    // The charge now and when full, in the same unit.
    std::optional<std::int64_t> currentCapacity;
    std::optional<std::int64_t> maxCapacity;
    // The charge in percent as the source states it; used when it gives no
    // capacities.
    std::optional<std::int64_t> statedPercent;
    bool isCharging = false;
    std::optional<std::int64_t> cycleCount;
    std::optional<std::string> condition;
    bool operator==(const Source&) const = default;
  };

  virtual ~PowerSources() = default;
  // In the platform's order.
  virtual std::vector<Source> sources() = 0;
};

}  // namespace glidemate::host
