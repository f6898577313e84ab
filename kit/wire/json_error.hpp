#pragma once

#include <stdexcept>

namespace glidemate {

// A command or event that cannot be written as JSON (a non-finite number) or
// read from it (wrong shape, unknown case, missing key, wrong value type).
class JsonCodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace glidemate
