// Which way input goes, from what the desktop session says.
#include <gtest/gtest.h>

#include "host/app/input_backend.hpp"

namespace glidemate::host {
namespace {

SessionFacts session(const char* type, const char* waylandDisplay, bool gnome, bool wlroots = false,
                     bool portal = false) {
  SessionFacts facts;
  facts.sessionType = type;
  facts.waylandDisplay = waylandDisplay;
  facts.gnomeRemoteDesktop = gnome;
  facts.wlrootsVirtualInput = wlroots;
  facts.portalRemoteDesktop = portal;
  return facts;
}

TEST(InputChoice, FollowsTheSessionUnlessARouteIsNamed) {
  using Input = HostOptions::Input;
  struct Case {
    const char* what;
    Input requested;
    SessionFacts facts;
    InputRoute route;
    bool refused;
  };
  const Case cases[] = {
      {"X11 session", Input::automatic, session("x11", "", false), InputRoute::x11, false},
      {"no session type, no Wayland", Input::automatic, session("", "", false), InputRoute::x11, false},
      // XWayland would take XTest, but the real pointer would not move.
      {"X11 declared wins over a stray WAYLAND_DISPLAY", Input::automatic,
       session("x11", "wayland-0", true), InputRoute::x11, false},
      {"GNOME on Wayland", Input::automatic,
       session("wayland", "wayland-0", true), InputRoute::gnome,
       false},
      {"Wayland told only by WAYLAND_DISPLAY", Input::automatic,
       session("tty", "wayland-1", true), InputRoute::gnome, false},
      {"Wayland with neither GNOME's remote desktop nor the portal's", Input::automatic,
       session("wayland", "wayland-0", false), InputRoute::none,
       true},
      {"a wlroots compositor", Input::automatic, session("wayland", "wayland-1", false, true), InputRoute::wlroots,
       false},
      {"GNOME's remote desktop comes first", Input::automatic, session("wayland", "wayland-0", true, true),
       InputRoute::gnome, false},
      {"a stray wlroots compositor under X11", Input::automatic, session("x11", "wayland-1", false, true),
       InputRoute::x11, false},
      {"named wlroots before the compositor answers", Input::wlroots, session("wayland", "", false),
       InputRoute::wlroots, false},
      {"Wayland with the portal's remote desktop (KDE Plasma, ...)", Input::automatic,
       session("wayland", "wayland-0", false, false, true), InputRoute::portal, false},
      {"GNOME's own remote desktop comes before the portal", Input::automatic,
       session("wayland", "wayland-0", true, false, true), InputRoute::gnome, false},
      {"a portal on an X11 session", Input::automatic, session("x11", "", false, false, true), InputRoute::x11, false},
      {"named portal", Input::portal, session("wayland", "", false), InputRoute::portal, false},
      {"a wlroots compositor comes before the portal", Input::automatic,
       session("wayland", "wayland-1", false, true, true), InputRoute::wlroots, false},
      {"named x11 on Wayland", Input::x11, session("wayland", "", false), InputRoute::x11, false},
      {"named gnome before mutter answers", Input::gnome, session("wayland", "", false), InputRoute::gnome, false},
      {"log", Input::log, session("wayland", "", false), InputRoute::log, false},
      {"none asked for is not a refusal", Input::none, session("", "", false), InputRoute::none, false},
  };
  for (const auto& c : cases) {
    const auto choice = chooseInput(c.requested, c.facts);
    EXPECT_EQ(choice.route, c.route) << c.what;
    EXPECT_EQ(!choice.refusal.empty(), c.refused) << c.what;
  }
}

}  // namespace
}  // namespace glidemate::host
