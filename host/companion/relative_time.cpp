#include "host/companion/relative_time.hpp"

#include <array>
#include <cstdint>

namespace glidemate::host {

std::string relativeTime(std::chrono::system_clock::time_point moment, std::chrono::system_clock::time_point now) {
  using std::chrono::seconds;
  const auto difference = std::chrono::duration_cast<seconds>(now - moment).count();
  const bool past = difference >= 0;
  const std::int64_t span = past ? difference : -difference;
  struct Unit {
    std::int64_t seconds;
    const char* name;
  };
  // Months and years as the calendar's averages.
  constexpr std::array<Unit, 6> units{{
      {31'556'952, "year"},
      {2'629'746, "month"},
      {604'800, "week"},
      {86'400, "day"},
      {3'600, "hour"},
      {60, "minute"},
  }};
  for (const auto& unit : units) {
    if (span < unit.seconds) continue;
    const std::int64_t count = span / unit.seconds;
    const std::string amount = std::to_string(count) + " " + unit.name + (count == 1 ? "" : "s");
    return past ? amount + " ago" : "in " + amount;
  }
  return "just now";
}

}  // namespace glidemate::host
