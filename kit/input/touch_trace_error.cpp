#include "kit/input/touch_trace_error.hpp"

#include <utility>

namespace glidemate {

TouchTraceError::TouchTraceError(std::size_t line, std::string detail)
    : std::runtime_error("touch trace line " + std::to_string(line) + ": " + detail),
      line_(line),
      detail_(std::move(detail)) {}

}  // namespace glidemate
