#pragma once

#include <iostream>
#include <string_view>

#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// Diagnostics go to stderr, one line each, tagged with their category.
class StderrLogger final : public Logger {
 public:
  void log(std::string_view category, std::string_view message) override {
    std::cerr << "[" << category << "] " << message << std::endl;
  }
};

}  // namespace glidemate::host
