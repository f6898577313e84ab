#include "host/companion/relative_time.hpp"

#include <gtest/gtest.h>

namespace glidemate::host {
namespace {

TEST(RelativeTime, LargestWholeUnitBeforeOrAfter) {
  using namespace std::chrono;
  const auto now = system_clock::time_point(hours(24 * 365 * 50));
  const std::pair<seconds, const char*> cases[] = {
      {seconds(0), "just now"},
      {seconds(59), "just now"},
      {seconds(60), "1 minute ago"},
      {seconds(150), "2 minutes ago"},
      {hours(1), "1 hour ago"},
      {hours(47), "1 day ago"},
      {days(14), "2 weeks ago"},
      {days(60), "1 month ago"},
      {days(800), "2 years ago"},
      {-minutes(5), "in 5 minutes"},
  };
  for (const auto& [ago, text] : cases) EXPECT_EQ(relativeTime(now - ago, now), text) << ago.count();
}

}  // namespace
}  // namespace glidemate::host
