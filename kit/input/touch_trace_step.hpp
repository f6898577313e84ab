#pragma once

#include <utility>
#include <variant>

#include "kit/input/touch_sample.hpp"

namespace glidemate {

// One line of a recorded touch trace: a sample to feed the classifier, or
// the moment the sender flushed it.
struct TouchTraceStep {
  struct Touch {
    TouchSample sample;
    bool operator==(const Touch&) const = default;
  };
  struct Flush {
    double now;
    bool operator==(const Flush&) const = default;
  };

  using Case = std::variant<Touch, Flush>;

  Case value;

  template <class T>
    requires std::constructible_from<Case, T>
  TouchTraceStep(T c) : value(std::move(c)) {}  // NOLINT: every case converts implicitly

  bool operator==(const TouchTraceStep&) const = default;
};

}  // namespace glidemate
