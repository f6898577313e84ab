#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "kit/input/touch_trace_step.hpp"

namespace glidemate {

// A recorded touch trace: one JSON object per line, either a touch sample
//   {"id":1,"phase":"began","x":10,"y":20,"time":0.0}
// (phase one of "began", "moved", "ended", "cancelled"; id an integer; x, y
// in points; time in seconds) or a flush at a time in seconds
//   {"flush":0.016}
// Lines holding only whitespace are skipped. Any other key, a missing key or
// a value of the wrong type is an error, so that a typo cannot silently
// change a trace.
class TouchTraceParser {
 public:
  // Throws TouchTraceError naming the first bad line.
  static std::vector<TouchTraceStep> parse(std::string_view text);
  // Nothing for a blank line. Throws TouchTraceError with `lineNumber`.
  static std::optional<TouchTraceStep> parseLine(std::string_view line, std::size_t lineNumber);
};

}  // namespace glidemate
