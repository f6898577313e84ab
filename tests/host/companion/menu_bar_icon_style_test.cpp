#include "host/companion/menu_bar_icon_style.hpp"

#include <gtest/gtest.h>

namespace glidemate::host {
namespace {

// The first rule that holds picks the look: phones watching the screen
// outrank a code on screen, which outranks a pause.
TEST(MenuBarIconStyle, TheFirstRuleThatHoldsWins) {
  struct Case {
    bool viewing, pairing, paused;
    MenuBarIconStyle expected;
  };
  const Case cases[] = {
      {false, false, false, MenuBarIconStyle::idle},
      {false, false, true, MenuBarIconStyle::paused},
      {false, true, true, MenuBarIconStyle::pairing},
      {true, true, true, MenuBarIconStyle::viewing},
      {true, false, false, MenuBarIconStyle::viewing},
  };
  for (const auto& c : cases) {
    HostSnapshot s;
    if (c.viewing) s.viewers = {"Ann's iPhone"};
    if (c.pairing) s.activeCode = "123456";
    s.isPaused = c.paused;
    EXPECT_EQ(menuBarIconStyle(s), c.expected) << c.viewing << c.pairing << c.paused;
  }
  EXPECT_STREQ(accessibilityDescription(MenuBarIconStyle::viewing),
               "Glidemate Companion, an iPhone is viewing the screen");
}

}  // namespace
}  // namespace glidemate::host
