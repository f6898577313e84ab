#include "kit/input/scroll_phase_machine.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace glidemate {
namespace {

using Machine = ScrollPhaseMachine;
using P = ScrollPhaseField;
using M = MomentumPhaseField;

const Machine::State coastingBegun = Machine::Coasting{true};
const Machine::State coastingNotBegun = Machine::Coasting{false};

struct Row {
  std::string name;
  Machine::State from;
  std::function<std::vector<ScrollEvent>(Machine&)> op;
  std::vector<ScrollEvent> events;
  Machine::State to;
};

ScrollEvent phase(P p, double dx = 0, double dy = 0) { return {dx, dy, p, M::none}; }
ScrollEvent momentum(M m, double dx = 0, double dy = 0) { return {dx, dy, P::none, m}; }

const auto mayBegin = [](Machine& m) { return m.mayBegin(); };
const auto begin = [](Machine& m) { return m.begin(); };
const auto change = [](Machine& m) { return m.change(1.5, -2); };
const auto end = [](Machine& m) { return m.end(); };
const auto cancel = [](Machine& m) { return m.cancel(); };
const auto coast = [](Machine& m) { return m.coast(3, 4); };
const auto stopCoasting = [](Machine& m) { return m.stopCoasting(); };

// Every cell of the transition table, each operation against each state.
TEST(ScrollPhaseMachine, FollowsTheTransitionTable) {
  const Machine::State idle = Machine::Idle{}, mayBeginS = Machine::MayBegin{},
                       scrolling = Machine::Scrolling{};
  const std::vector<Row> rows{
      {"mayBegin/idle", idle, mayBegin, {phase(P::mayBegin)}, mayBeginS},
      {"mayBegin/mayBegin", mayBeginS, mayBegin, {phase(P::mayBegin)}, mayBeginS},
      {"mayBegin/scrolling", scrolling, mayBegin, {}, scrolling},
      {"mayBegin/coastingBegun", coastingBegun, mayBegin, {momentum(M::end), phase(P::mayBegin)}, mayBeginS},
      {"mayBegin/coastingNotBegun", coastingNotBegun, mayBegin, {phase(P::mayBegin)}, mayBeginS},

      {"begin/idle", idle, begin, {phase(P::began)}, scrolling},
      {"begin/mayBegin", mayBeginS, begin, {phase(P::began)}, scrolling},
      {"begin/scrolling", scrolling, begin, {}, scrolling},
      {"begin/coastingBegun", coastingBegun, begin, {momentum(M::end), phase(P::began)}, scrolling},
      {"begin/coastingNotBegun", coastingNotBegun, begin, {phase(P::began)}, scrolling},

      {"change/idle", idle, change, {phase(P::began), phase(P::changed, 1.5, -2)}, scrolling},
      {"change/mayBegin", mayBeginS, change, {phase(P::began), phase(P::changed, 1.5, -2)}, scrolling},
      {"change/scrolling", scrolling, change, {phase(P::changed, 1.5, -2)}, scrolling},
      {"change/coastingBegun", coastingBegun, change,
       {momentum(M::end), phase(P::began), phase(P::changed, 1.5, -2)}, scrolling},
      {"change/coastingNotBegun", coastingNotBegun, change,
       {phase(P::began), phase(P::changed, 1.5, -2)}, scrolling},

      {"end/idle", idle, end, {}, idle},
      {"end/mayBegin", mayBeginS, end, {phase(P::cancelled)}, idle},
      {"end/scrolling", scrolling, end, {phase(P::ended)}, idle},
      {"end/coastingBegun", coastingBegun, end, {}, coastingBegun},
      {"end/coastingNotBegun", coastingNotBegun, end, {}, coastingNotBegun},

      {"cancel/idle", idle, cancel, {}, idle},
      {"cancel/mayBegin", mayBeginS, cancel, {phase(P::cancelled)}, idle},
      {"cancel/scrolling", scrolling, cancel, {phase(P::cancelled)}, idle},
      {"cancel/coastingBegun", coastingBegun, cancel, {momentum(M::end)}, idle},
      {"cancel/coastingNotBegun", coastingNotBegun, cancel, {}, idle},

      {"coast/idle", idle, coast, {momentum(M::begin, 3, 4)}, coastingBegun},
      {"coast/mayBegin", mayBeginS, coast, {}, mayBeginS},
      {"coast/scrolling", scrolling, coast, {}, scrolling},
      {"coast/coastingBegun", coastingBegun, coast, {momentum(M::continuePhase, 3, 4)}, coastingBegun},
      {"coast/coastingNotBegun", coastingNotBegun, coast, {momentum(M::continuePhase, 3, 4)}, coastingBegun},

      {"stopCoasting/idle", idle, stopCoasting, {}, idle},
      {"stopCoasting/mayBegin", mayBeginS, stopCoasting, {}, mayBeginS},
      {"stopCoasting/scrolling", scrolling, stopCoasting, {}, scrolling},
      {"stopCoasting/coastingBegun", coastingBegun, stopCoasting, {momentum(M::end)}, idle},
      {"stopCoasting/coastingNotBegun", coastingNotBegun, stopCoasting, {}, idle},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Machine machine{row.from};
    EXPECT_EQ(row.op(machine), row.events);
    EXPECT_EQ(machine.state, row.to);
  }
}

TEST(ScrollPhaseMachine, IsCoastingInEitherCoastingState) {
  EXPECT_TRUE(Machine{coastingBegun}.isCoasting());
  EXPECT_TRUE(Machine{coastingNotBegun}.isCoasting());
  EXPECT_FALSE(Machine{Machine::Scrolling{}}.isCoasting());
}

TEST(ScrollPhaseFields, RawValuesOutsideTheCasesNameNothing) {
  EXPECT_EQ(scrollPhaseFieldFromRaw(128), P::mayBegin);
  EXPECT_EQ(scrollPhaseFieldFromRaw(4), P::ended);
  for (std::int64_t raw : {3, 5, 16, 127, -1}) EXPECT_EQ(scrollPhaseFieldFromRaw(raw), std::nullopt) << raw;
  EXPECT_EQ(momentumPhaseFieldFromRaw(3), M::end);
  EXPECT_EQ(momentumPhaseFieldFromRaw(4), std::nullopt);
  EXPECT_EQ(momentumPhaseFieldFromRaw(-1), std::nullopt);
}

}  // namespace
}  // namespace glidemate
