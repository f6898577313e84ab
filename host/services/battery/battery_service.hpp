#pragma once

#include <memory>

#include "host/services/battery/power_sources.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// Reports the first present internal battery: its charge, whether it is
// charging, its cycle count and condition. A computer without one reports
// a battery that is not present. Main executor only.
class BatteryService {
 public:
  explicit BatteryService(std::unique_ptr<PowerSources> sources);

  BatteryStatus status();

 private:
  std::unique_ptr<PowerSources> sources_;
};

}  // namespace glidemate::host
