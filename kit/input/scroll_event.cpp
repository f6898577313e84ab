#include "kit/input/scroll_event.hpp"

namespace glidemate {

std::optional<ScrollPhaseField> scrollPhaseFieldFromRaw(std::int64_t raw) {
  switch (raw) {
    case 0:
    case 1:
    case 2:
    case 4:
    case 8:
    case 128:
      return static_cast<ScrollPhaseField>(raw);
    default:
      return std::nullopt;
  }
}

std::optional<MomentumPhaseField> momentumPhaseFieldFromRaw(std::int64_t raw) {
  if (raw < 0 || raw > 3) return std::nullopt;
  return static_cast<MomentumPhaseField>(raw);
}

}  // namespace glidemate
