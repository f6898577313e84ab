#include "host/services/battery/battery_service.hpp"

#include <algorithm>
#include <cmath>

namespace glidemate::host {
namespace {

// The whole percent of charge, truncated. A gauge that reads a little above
// its own full mark (common after a calibration) still shows 100.
std::optional<std::int64_t> percentOf(const PowerSources::Source& source) {
  if (source.currentCapacity && source.maxCapacity && *source.maxCapacity > 0) {
    const double percent =
        static_cast<double>(*source.currentCapacity) / static_cast<double>(*source.maxCapacity) * 100.0;
    return static_cast<std::int64_t>(std::trunc(std::clamp(percent, 0.0, 100.0)));
  }
  if (source.statedPercent) return std::clamp<std::int64_t>(*source.statedPercent, 0, 100);
  return std::nullopt;
}

}  // namespace

BatteryService::BatteryService(std::unique_ptr<PowerSources> sources) : sources_(std::move(sources)) {}

BatteryStatus BatteryService::status() {
  for (const auto& source : sources_->sources()) {
    if (!source.isInternalBattery || !source.isPresent) continue;
    return BatteryStatus{
        .isPresent = true,
        .percent = percentOf(source),
        .isCharging = source.isCharging,
        .cycleCount = source.cycleCount,
        .condition = source.condition,
    };
  }
  return BatteryStatus{};
}

}  // namespace glidemate::host
