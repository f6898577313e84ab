#include "host/input/logging_event_poster.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "host/input/input_service.hpp"

namespace glidemate::host {
namespace {

TEST(LoggingEventPoster, PrintsEventsAndKeepsTheCursorWhereTheyPutIt) {
  std::ostringstream out;
  LoggingEventPoster poster(out, {0, 0, 800, 600});
  InputService input(poster, [] { return std::chrono::steady_clock::time_point{}; });
  input.move(900, 20);
  EXPECT_EQ(poster.cursorLocation(), (ScreenPoint{799, 20}));
  EXPECT_EQ(out.str(), "input: mouse mouseMoved at (799, 20) button 0, source 1 field4=900 field5=20\n");
}

}  // namespace
}  // namespace glidemate::host
