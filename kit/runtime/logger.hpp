#pragma once

#include <string>
#include <string_view>

namespace glidemate {

// Where diagnostic lines go. Each line has a category ("sessions",
// "listener", ...) so that a reader can filter them.
class Logger {
 public:
  virtual ~Logger() = default;
  virtual void log(std::string_view category, std::string_view message) = 0;
};

// Discards everything; for callers that have nowhere to log.
class NullLogger final : public Logger {
 public:
  void log(std::string_view, std::string_view) override {}
};

}  // namespace glidemate
