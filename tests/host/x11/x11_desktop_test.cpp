// The desktop connection and the window-manager reads, against a private X
// server with openbox and the windows of another client.
#include <X11/Xatom.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>

#include "host/x11/ewmh.hpp"
#include "host/x11/x11_desktop_connection.hpp"
#include "host/x11/x11_error.hpp"
#include "host/x11/x11_error_trap.hpp"
#include "kit/wire/utf8.hpp"
#include "tests/support/openbox.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/test_window.hpp"
#include "tests/support/thrown.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using testing::Openbox;
using testing::TestWindow;
using testing::XvfbDisplay;

class X11DesktopTest : public ::testing::Test {
 protected:
  XvfbDisplay xvfb;
  asio::io_context io;
  std::shared_ptr<X11DesktopConnection> connection = X11DesktopConnection::open(io.get_executor(), xvfb.name());
  Ewmh ewmh{*connection};

  void setText(Window window, const std::string& name, const std::string& value) {
    XChangeProperty(connection->display(), window, connection->atom(name), XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()));
  }
};

TEST_F(X11DesktopTest, AnUnknownDisplayIsAClearError) {
  EXPECT_EQ(glidemate::testing::thrown<X11Error>([&] { X11DesktopConnection::open(io.get_executor(), "nohost:99"); }),
            X11Error::cannotOpenDisplay("nohost:99"));
}

TEST_F(X11DesktopTest, EventsReachTheirWindowsHandlersOnTheMainExecutor) {
  TestWindow other(xvfb.name(), {});
  XSelectInput(connection->display(), other.id(), PropertyChangeMask);
  std::vector<std::string> seen;
  auto watching = connection->subscribe(other.id(), [&](const XEvent& e) {
    if (e.type != PropertyNotify) return;
    char* name = XGetAtomName(connection->display(), e.xproperty.atom);
    seen.emplace_back(name);
    XFree(name);
  });
  // A handler may end its own subscription.
  int once = 0;
  X11DesktopConnection::Subscription self;
  self = connection->subscribe(other.id(), [&](const XEvent& e) {
    if (e.type != PropertyNotify) return;
    ++once;
    self.reset();
  });
  auto elsewhere = connection->subscribe(connection->root(), [&](const XEvent&) { ADD_FAILURE(); });

  setText(other.id(), "FIRST", "1");
  setText(other.id(), "SECOND", "2");
  // The round trip reads both notices into Xlib's queue, leaving nothing on
  // the socket to wake the reader: they must be dispatched all the same.
  EXPECT_EQ(connection->readProperty(other.id(), connection->atom("SECOND"), 16)->bytes, "2");
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return seen.size() == 2; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"FIRST", "SECOND"}));
  EXPECT_EQ(once, 1);
}

TEST_F(X11DesktopTest, XErrorsAreTrappedOrDroppedNeverFatal) {
  Display* display = connection->display();
  const Window missing = 0x1FFFFF;
  {
    X11ErrorTrap outer(display);
    XMapWindow(display, missing);
    X11ErrorTrap inner(display);
    XMapWindow(display, connection->root());
    // The error of the outer trap's request arrives while the inner one
    // waits, and still belongs to the outer one.
    EXPECT_FALSE(inner.failed());
    EXPECT_TRUE(outer.failed());
  }
  // An error nobody traps does not end the process.
  XMapWindow(display, missing);
  XSync(display, False);
  EXPECT_EQ(connection->readProperty(missing, XA_WM_NAME, 16), std::nullopt);
  EXPECT_EQ(ewmh.title(missing), std::nullopt);
}

TEST_F(X11DesktopTest, WithoutAWindowManagerNoWindowIsActive) {
  TestWindow window(xvfb.name(), {.windowClass = {{"Navigator", "firefox"}}});
  EXPECT_FALSE(ewmh.hasWindowManager());
  EXPECT_EQ(ewmh.activeWindow(), std::nullopt);
  EXPECT_TRUE(ewmh.clientList().empty());

  // A window manager that died leaves its properties on the root behind.
  {
    Openbox openbox(xvfb.name());
    window.activate();
    ASSERT_TRUE(window.waitUntil([&] { return window.isActive(); }));
    EXPECT_EQ(ewmh.activeWindow(), window.id());
    const auto check = connection->readProperty(connection->root(), connection->atom("_NET_SUPPORTING_WM_CHECK"), 4);
    const Window checkWindow = check->numbers.at(0);
    XSelectInput(connection->display(), checkWindow, StructureNotifyMask);
    bool gone = false;
    auto watching = connection->subscribe(checkWindow, [&](const XEvent& e) { gone = gone || e.type == DestroyNotify; });
    // Selected before openbox goes: the server takes clients in its own order.
    XSync(connection->display(), False);
    connection->flush();
    openbox.crash();
    ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return gone; }));
  }
  EXPECT_NE(connection->readProperty(connection->root(), connection->atom("_NET_ACTIVE_WINDOW"), 4), std::nullopt);
  EXPECT_FALSE(ewmh.hasWindowManager());
  EXPECT_EQ(ewmh.activeWindow(), std::nullopt);
}

class EwmhTest : public X11DesktopTest {
 protected:
  Openbox openbox{xvfb.name()};
};

TEST_F(EwmhTest, ReadsTheActiveWindowItsClassTitleAndFullScreenState) {
  TestWindow first(xvfb.name(), {.windowClass = {{"xterm", "XTerm"}}, .wmName = "shell"});
  TestWindow slides(xvfb.name(), {.windowClass = {{"Navigator", "firefox"}},
                                  .netWmName = "Quarterly review \xE2\x80\x93 Google Slides",
                                  .wmName = "ignored while _NET_WM_NAME is there"});
  slides.activate();
  ASSERT_TRUE(slides.waitUntil([&] { return slides.isActive(); }));

  EXPECT_TRUE(ewmh.hasWindowManager());
  EXPECT_EQ(ewmh.activeWindow(), slides.id());
  EXPECT_EQ(ewmh.clientList(), (std::vector<Window>{first.id(), slides.id()}));
  EXPECT_EQ(ewmh.windowClass(slides.id()), (Ewmh::WindowClass{"Navigator", "firefox"}));
  EXPECT_EQ(ewmh.title(slides.id()), "Quarterly review \xE2\x80\x93 Google Slides");
  EXPECT_EQ(ewmh.title(first.id()), "shell");
  EXPECT_FALSE(ewmh.isFullScreen(slides.id()));

  // The request goes through the window manager, which answers by setting
  // the window's state.
  ewmh.sendToRoot(slides.id(), connection->atom("_NET_WM_STATE"),
                  {1, static_cast<long>(connection->atom("_NET_WM_STATE_FULLSCREEN")), 0, 1, 0});
  ASSERT_TRUE(slides.waitUntil([&] { return slides.isFullScreen(); }));
  EXPECT_TRUE(ewmh.isFullScreen(slides.id()));
}

TEST_F(EwmhTest, OddAndVanishingWindowsReadSafely) {
  std::string euros;
  while (euros.size() < 64 * 1024) euros += "\xE2\x82\xAC";
  struct Case {
    const char* what;
    TestWindow::Options options;
    std::optional<Ewmh::WindowClass> windowClass;
    std::optional<std::string> title;
  };
  const std::vector<Case> cases{
      {"no class, no title", {}, std::nullopt, std::nullopt},
      {"class without a second string", {.windowClass = {{"lonely", ""}}}, Ewmh::WindowClass{"lonely", ""},
       std::nullopt},
      {"ill-formed UTF-8", {.netWmName = "caf\xC3 \xFF!"}, std::nullopt, "caf\xEF\xBF\xBD \xEF\xBF\xBD!"},
      {"Latin-1 WM_NAME", {.windowClass = {{"b\xE9", "B\xE9"}}, .wmName = "caf\xE9"},
       Ewmh::WindowClass{"b\xC3\xA9", "B\xC3\xA9"}, "caf\xC3\xA9"},
      // 4096 bytes would cut the 1366th euro sign: the title keeps 1365.
      {"64 KB title", {.netWmName = euros}, std::nullopt, euros.substr(0, 4095)},
  };
  for (const auto& c : cases) {
    TestWindow window(xvfb.name(), c.options);
    EXPECT_EQ(ewmh.windowClass(window.id()), c.windowClass) << c.what;
    EXPECT_EQ(ewmh.title(window.id()), c.title) << c.what;
  }

  TestWindow vanishing(xvfb.name(), {.windowClass = {{"gone", "Gone"}}, .netWmName = "soon gone"});
  const Window id = vanishing.id();
  vanishing.destroy();
  EXPECT_EQ(ewmh.windowClass(id), std::nullopt);
  EXPECT_EQ(ewmh.title(id), std::nullopt);
  EXPECT_FALSE(ewmh.isFullScreen(id));
}

}  // namespace
}  // namespace glidemate::host
