#include "kit/input/scroll_phase_machine.hpp"

namespace glidemate {
namespace {

ScrollEvent phaseOnly(ScrollPhaseField phase) { return {0, 0, phase, MomentumPhaseField::none}; }
ScrollEvent momentumOnly(MomentumPhaseField momentum) {
  return {0, 0, ScrollPhaseField::none, momentum};
}

// A coast that has posted its momentum-begin must be closed with a
// momentum-end before anything else starts.
bool hasBegunCoasting(const ScrollPhaseMachine::State& state) {
  const auto* coasting = std::get_if<ScrollPhaseMachine::Coasting>(&state);
  return coasting != nullptr && coasting->hasBegun;
}

}  // namespace

std::vector<ScrollEvent> ScrollPhaseMachine::mayBegin() {
  if (std::holds_alternative<Scrolling>(state)) return {};
  std::vector<ScrollEvent> events;
  if (hasBegunCoasting(state)) events.push_back(momentumOnly(MomentumPhaseField::end));
  events.push_back(phaseOnly(ScrollPhaseField::mayBegin));
  state = MayBegin{};
  return events;
}

std::vector<ScrollEvent> ScrollPhaseMachine::begin() {
  if (std::holds_alternative<Scrolling>(state)) return {};
  std::vector<ScrollEvent> events;
  if (hasBegunCoasting(state)) events.push_back(momentumOnly(MomentumPhaseField::end));
  events.push_back(phaseOnly(ScrollPhaseField::began));
  state = Scrolling{};
  return events;
}

std::vector<ScrollEvent> ScrollPhaseMachine::change(double deltaX, double deltaY) {
  // A change without a preceding begin supplies the began event itself.
  auto events = begin();
  events.push_back({deltaX, deltaY, ScrollPhaseField::changed, MomentumPhaseField::none});
  state = Scrolling{};
  return events;
}

std::vector<ScrollEvent> ScrollPhaseMachine::end() {
  if (std::holds_alternative<MayBegin>(state)) {
    // Fingers that rested and lifted never scrolled: that is a cancellation.
    state = Idle{};
    return {phaseOnly(ScrollPhaseField::cancelled)};
  }
  if (std::holds_alternative<Scrolling>(state)) {
    state = Idle{};
    return {phaseOnly(ScrollPhaseField::ended)};
  }
  return {};
}

std::vector<ScrollEvent> ScrollPhaseMachine::cancel() {
  std::vector<ScrollEvent> events;
  if (std::holds_alternative<MayBegin>(state) || std::holds_alternative<Scrolling>(state)) {
    events.push_back(phaseOnly(ScrollPhaseField::cancelled));
  } else if (hasBegunCoasting(state)) {
    events.push_back(momentumOnly(MomentumPhaseField::end));
  }
  state = Idle{};
  return events;
}

std::vector<ScrollEvent> ScrollPhaseMachine::coast(double deltaX, double deltaY) {
  if (std::holds_alternative<Idle>(state)) {
    state = Coasting{true};
    return {{deltaX, deltaY, ScrollPhaseField::none, MomentumPhaseField::begin}};
  }
  if (std::holds_alternative<Coasting>(state)) {
    state = Coasting{true};
    return {{deltaX, deltaY, ScrollPhaseField::none, MomentumPhaseField::continuePhase}};
  }
  return {};
}

std::vector<ScrollEvent> ScrollPhaseMachine::stopCoasting() {
  if (!std::holds_alternative<Coasting>(state)) return {};
  std::vector<ScrollEvent> events;
  if (hasBegunCoasting(state)) events.push_back(momentumOnly(MomentumPhaseField::end));
  state = Idle{};
  return events;
}

}  // namespace glidemate
