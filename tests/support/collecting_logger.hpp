// Test helper: a logger that keeps every line it is told.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "kit/runtime/logger.hpp"

namespace glidemate::testing {

// Keeps each line as "category: message".
class CollectingLogger final : public Logger {
 public:
  void log(std::string_view category, std::string_view message) override {
    lines.push_back(std::string(category) + ": " + std::string(message));
  }
  // How many lines contain `part`.
  std::size_t count(std::string_view part) const {
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; }));
  }
  bool saw(std::string_view part) const { return count(part) > 0; }
  // Every line, one per line, for a failure's message.
  std::string all() const {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
  }

  std::vector<std::string> lines;
};

}  // namespace glidemate::testing
