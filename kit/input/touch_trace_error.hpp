#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace glidemate {

// A trace line that is not a touch sample or a flush. `line` counts from 1.
class TouchTraceError : public std::runtime_error {
 public:
  TouchTraceError(std::size_t line, std::string detail);

  std::size_t line() const { return line_; }
  const std::string& detail() const { return detail_; }

  friend bool operator==(const TouchTraceError& a, const TouchTraceError& b) {
    return a.line_ == b.line_ && a.detail_ == b.detail_;
  }

 private:
  std::size_t line_;
  std::string detail_;
};

}  // namespace glidemate
