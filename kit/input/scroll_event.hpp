#pragma once

#include <cstdint>
#include <optional>

namespace glidemate {

// The values of the system's scroll-phase event field, as a trackpad writes
// them into its scroll-wheel events.
enum class ScrollPhaseField : std::int64_t {
  none = 0,
  began = 1,
  changed = 2,
  ended = 4,
  cancelled = 8,
  mayBegin = 128,
};

// The values of the system's momentum-phase event field. `continue` is a
// keyword, hence `continuePhase`.
enum class MomentumPhaseField : std::int64_t {
  none = 0,
  begin = 1,
  continuePhase = 2,
  end = 3,
};

// Raw field values that name no case yield nothing.
std::optional<ScrollPhaseField> scrollPhaseFieldFromRaw(std::int64_t raw);
std::optional<MomentumPhaseField> momentumPhaseFieldFromRaw(std::int64_t raw);

// One scroll-wheel event to post: deltas in points (positive y as the phone
// sends it) and the two phase fields.
struct ScrollEvent {
  double deltaX = 0;
  double deltaY = 0;
  ScrollPhaseField phase = ScrollPhaseField::none;
  MomentumPhaseField momentum = MomentumPhaseField::none;
  bool operator==(const ScrollEvent&) const = default;
};

}  // namespace glidemate
