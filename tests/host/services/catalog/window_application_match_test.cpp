#include "host/services/catalog/x11/window_application_match.hpp"

#include <gtest/gtest.h>

namespace glidemate::host {
namespace {

TEST(WindowApplicationMatch, TheWindowsOwnNamesInTheirOrder) {
  const std::vector<InstalledApplication> installed{
      {"org.gnome.Calculator", "Calculator", "", ""},
      {"org.kde.dolphin", "Dolphin", "", ""},
      {"firefox-esr", "Firefox", "", "firefox-esr"},
      {"code", "Code", "", "Code"},
      {"org.test.Term", "Term", "", "xterm-like"},
      {"org.gnome.Maps", "Maps", "", ""},
  };
  struct Case {
    WindowIdentity window;
    std::optional<std::string> application;
  };
  const std::vector<Case> cases{
      {{"org.gnome.Calculator", "", "gnome-calculator", "Gnome-calculator"}, "org.gnome.Calculator"},
      // An id that is not installed is no answer; the next rule decides.
      {{"org.other.App", "", "code", "Code"}, "code"},
      {{"", "org.kde.dolphin", "dolphin", "dolphin"}, "org.kde.dolphin"},
      {{"", "/usr/share/applications/org.kde.dolphin.desktop", "", ""}, "org.kde.dolphin"},
      {{"", "", "Navigator", "firefox-esr"}, "firefox-esr"},
      {{"", "", "xterm-like", "XTerm"}, "org.test.Term"},
      // StartupWMClass is exact; the id comparison ignores case.
      {{"", "", "code", "CODE"}, "code"},
      {{"", "", "maps", "Maps"}, "org.gnome.Maps"},
      {{"", "", "unknown", "Unknown"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(applicationOfWindow(c.window, installed), c.application)
        << c.window.gtkApplicationId << "|" << c.window.kdeDesktopFile << "|" << c.window.classInstance << "|"
        << c.window.className;
  }
}

}  // namespace
}  // namespace glidemate::host
