// Presentation control on an X11 desktop: a private X server, openbox, and
// windows of another client whose class, title and full-screen state the
// tests set; the keys reach them through the real event poster.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <asio/io_context.hpp>

#include "host/input/desktop_shortcut_gesture_backend.hpp"
#include "host/input/keystroke_service.hpp"
#include "host/input/virtual_key.hpp"
#include "host/input/x11/x11_event_poster.hpp"
#include "host/services/apple_script_runner.hpp"
#include "host/services/presentation/presentation_service.hpp"
#include "host/services/presentation/x11/x11_presentation_backend.hpp"
#include "tests/support/openbox.hpp"
#include "tests/support/test_window.hpp"
#include "tests/support/thrown.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using testing::TestWindow;
using Failure = AppleScriptRunner::Failure;

TEST(X11PresentationBackend, KnowsTheBrowsersByTheirClasses) {
  const std::vector<std::pair<Ewmh::WindowClass, std::optional<std::string>>> cases{
      {{"Navigator", "firefox"}, "Firefox"},
      {{"Navigator", "firefox-esr"}, "Firefox"},
      {{"google-chrome", "Google-chrome"}, "Google Chrome"},
      {{"chromium", "Chromium"}, "Chromium"},
      {{"brave-browser", "Brave-browser"}, "Brave"},
      {{"vivaldi-stable", "Vivaldi-stable"}, "Vivaldi"},
      {{"opera", "Opera"}, "Opera"},
      {{"microsoft-edge", "Microsoft-edge"}, "Microsoft Edge"},
      {{"xterm", "XTerm"}, std::nullopt},
      {{"", ""}, std::nullopt},
      {{"libreoffice", "libreoffice-impress"}, std::nullopt},
  };
  for (const auto& [windowClass, name] : cases) {
    EXPECT_EQ(X11PresentationBackend::browserName(windowClass), name) << windowClass.name;
  }
}

class X11PresentationTest : public ::testing::Test {
 protected:
  testing::XvfbDisplay xvfb;
  testing::Openbox openbox{xvfb.name()};
  asio::io_context io;
  std::shared_ptr<X11DesktopConnection> connection = X11DesktopConnection::open(io.get_executor(), xvfb.name());
  PresentationService service{std::make_unique<X11PresentationBackend>(connection)};
  X11EventPoster poster{xvfb.name()};
  DesktopShortcutGestureBackend gestures{poster};
  KeystrokeService keystrokes{poster, gestures};

  // A window of another client, active and, if asked, full screen.
  std::unique_ptr<TestWindow> front(TestWindow::Options options, bool fullScreen) {
    auto window = std::make_unique<TestWindow>(xvfb.name(), options);
    window->activate();
    EXPECT_TRUE(window->waitUntil([&] { return window->isActive(); }));
    if (fullScreen) {
      window->requestFullScreen();
      EXPECT_TRUE(window->waitUntil([&] { return window->isFullScreen(); }));
    }
    return window;
  }

  // What the phone's action does on this desktop: the key it names, pressed.
  void act(PresentationAction action) {
    if (const auto key = service.perform(action)) keystrokes.press(*key, 0);
  }
};

TEST_F(X11PresentationTest, AFullScreenGoogleSlidesWindowTakesTheArrowKeys) {
  const auto slides =
      front({.windowClass = {{"google-chrome", "Google-chrome"}}, .netWmName = "Quarterly review - Google Slides"},
            true);
  EXPECT_EQ(service.status(), (PresentationStatus{"Google Slides", true, 0, 0, "", false}));
  act(PresentationAction::next);
  EXPECT_EQ(slides->nextKeyPress(), XK_Right);
  act(PresentationAction::previous);
  EXPECT_EQ(slides->nextKeyPress(), XK_Left);
  act(PresentationAction::end);
  EXPECT_EQ(slides->nextKeyPress(), XK_Escape);
  EXPECT_EQ(glidemate::testing::thrown<Failure>([&] { service.perform(PresentationAction::start); }),
            Failure::failed(PresentationService::startInBrowser));
}

TEST_F(X11PresentationTest, BrowsersWithoutAKeywordShowTheirNameOnlyFullScreen) {
  const auto page = front({.windowClass = {{"Navigator", "firefox"}}, .netWmName = "News - Mozilla Firefox"}, false);
  EXPECT_EQ(service.status(), (PresentationStatus{std::nullopt, false, 0, 0, "", true}));
  EXPECT_EQ(glidemate::testing::thrown<Failure>([&] { service.perform(PresentationAction::next); }),
            Failure::failed(PresentationService::nothingToDrive));
  page->requestFullScreen();
  ASSERT_TRUE(page->waitUntil([&] { return page->isFullScreen(); }));
  EXPECT_EQ(service.status(), (PresentationStatus{"Firefox", true, 0, 0, "", false}));
}

TEST_F(X11PresentationTest, ImpressIsDrivenByItsOwnKeys) {
  const auto impress =
      front({.windowClass = {{"libreoffice", "libreoffice-impress"}}, .netWmName = "deck.odp - LibreOffice Impress"},
            false);
  EXPECT_EQ(service.status(), (PresentationStatus{"Impress", false, 0, 0, "", false}));
  act(PresentationAction::start);
  EXPECT_EQ(impress->nextKeyPress(), XK_F5);
  impress->requestFullScreen();
  ASSERT_TRUE(impress->waitUntil([&] { return impress->isFullScreen(); }));
  EXPECT_EQ(service.status(), (PresentationStatus{"Impress", true, 0, 0, "", false}));
  act(PresentationAction::next);
  EXPECT_EQ(impress->nextKeyPress(), XK_Right);
  act(PresentationAction::end);
  EXPECT_EQ(impress->nextKeyPress(), XK_Escape);
}

TEST_F(X11PresentationTest, OddWindowsFindNoSlideshow) {
  std::string longTitle(64 * 1024, 'x');
  longTitle += " - Google Slides";
  struct Case {
    const char* what;
    TestWindow::Options options;
    std::optional<std::string> app;
  };
  const std::vector<Case> cases{
      {"no class", {.netWmName = "Quarterly review - Google Slides"}, std::nullopt},
      {"a title that is not UTF-8", {.windowClass = {{"chromium", "Chromium"}}, .netWmName = "\xFF\xFE Slides \xC3"},
       "Chromium"},
      // The keyword lies beyond what is read of the title.
      {"a 64 KB title", {.windowClass = {{"chromium", "Chromium"}}, .netWmName = longTitle}, "Chromium"},
  };
  for (const auto& c : cases) {
    const auto window = front(c.options, true);
    EXPECT_EQ(service.status().app, c.app) << c.what;
  }

  // The active window vanishes, then the window manager itself.
  auto gone = front({.windowClass = {{"chromium", "Chromium"}}, .netWmName = "Google Slides"}, true);
  gone->destroy();
  EXPECT_NO_THROW(service.status());
  openbox.crash();
  EXPECT_EQ(service.status(), (PresentationStatus{std::nullopt, false, 0, 0, "", true}));
}

}  // namespace
}  // namespace glidemate::host
