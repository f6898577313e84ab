// Running applications under a real window manager: openbox on Xvfb, with
// x-test-app windows as other programs' windows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <climits>
#include <cstring>

#include "host/services/catalog/x11/x11_application_switcher.hpp"
#include "host/services/catalog/x11/xsettings_icon_theme.hpp"
#include "host/x11/ewmh.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/openbox.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/test_window.hpp"
#include "tests/support/xvfb_display.hpp"

#include <X11/Xatom.h>

namespace glidemate::host {
namespace {

using glidemate::testing::ChildProcess;
using glidemate::testing::runUntil;

// A program with one window, of another process.
struct App {
  App(const std::string& display, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), GLIDEMATE_X_TEST_APP);
    process = std::make_unique<ChildProcess>(arguments, std::vector<std::string>{"DISPLAY=" + display}, true);
    const std::string mapped = process->readLineContaining("mapped ");
    window = std::stoul(mapped.substr(mapped.find(' ') + 1));
  }
  std::unique_ptr<ChildProcess> process;
  unsigned long window = 0;
};

class X11ApplicationSwitcherTest : public ::testing::Test {
 protected:
  testing::XvfbDisplay xvfb;
  testing::Openbox openbox{xvfb.name()};
  asio::io_context io;
  std::shared_ptr<X11DesktopConnection> connection = X11DesktopConnection::open(io.get_executor(), xvfb.name());
  X11ApplicationSwitcher running{connection};
  const std::vector<InstalledApplication> installed{
      {"org.test.Editor", "Editor", "", ""},
      {"org.test.Term", "Term", "", "term-window"},
  };

  std::vector<RunningApplication> listOnceManaged(std::size_t count) {
    std::vector<RunningApplication> apps;
    EXPECT_TRUE(runUntil(io, [&] {
      apps = running.list(installed);
      std::size_t windows = 0;
      for (const auto& a : apps) windows += a.handles.size();
      return windows == count;
    }));
    return apps;
  }
};

TEST_F(X11ApplicationSwitcherTest, WindowsAreTheirApplicationsAndAnswerHideActivateAndQuit) {
  App editor(xvfb.name(), {"--gtk-id", "org.test.Editor", "--class", "editor", "Editor"});
  App term(xvfb.name(), {"--class", "term-window", "Term"});
  App stranger(xvfb.name(), {"--class", "stranger", "Stranger"});
  const auto apps = listOnceManaged(2);
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0], (RunningApplication{"org.test.Editor", true, {editor.window}}));
  EXPECT_EQ(apps[1], (RunningApplication{"org.test.Term", true, {term.window}}));

  running.hide(apps[0]);
  EXPECT_EQ(editor.process->readLine(), "unmapped");
  EXPECT_TRUE(running.activate(apps[0]));
  EXPECT_EQ(editor.process->readLine(), "mapped " + std::to_string(editor.window));
  Ewmh ewmh(*connection);
  ASSERT_TRUE(runUntil(io, [&] { return ewmh.activeWindow() == editor.window; }));

  running.terminate(apps[1]);
  EXPECT_EQ(term.process->readLine(), "closed");
  EXPECT_EQ(term.process->wait(), 0);
}

TEST_F(X11ApplicationSwitcherTest, OwnWindowsAreLeftOutAndWindowsThatCannotBeAskedAreNotClosed) {
  // A window of this very process, of an installed application's class.
  Display* display = connection->display();
  const Window own = XCreateSimpleWindow(display, connection->root(), 0, 0, 50, 50, 0, 0, 0);
  const std::string ownClass = std::string("term-window") + '\0' + "Term" + '\0';
  XChangeProperty(display, own, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(ownClass.data()), static_cast<int>(ownClass.size()));
  const long pid = ::getpid();
  XChangeProperty(display, own, connection->atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  char host[HOST_NAME_MAX + 1] = {};
  ::gethostname(host, sizeof host - 1);
  XChangeProperty(display, own, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(host), static_cast<int>(std::strlen(host)));
  XMapWindow(display, own);
  connection->flush();

  // Another client's window that never said it can be asked to close: the
  // window manager would kill its client instead.
  testing::TestWindow plain(xvfb.name(), {.windowClass = std::make_pair("term-window", "Term")});
  Ewmh ewmh(*connection);
  ASSERT_TRUE(runUntil(io, [&] { return ewmh.clientList().size() == 2; }));
  const auto apps = running.list(installed);
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].handles, std::vector<std::uint64_t>{plain.id()});

  running.terminate(apps[0]);
  // The window manager takes requests in order: once it has activated the
  // window, it has seen whatever came before. The window is still there.
  EXPECT_TRUE(running.activate(apps[0]));
  ASSERT_TRUE(runUntil(io, [&] { return ewmh.activeWindow() == plain.id(); }));
  EXPECT_TRUE(plain.isViewable());
  EXPECT_EQ(ewmh.clientList().size(), 2u);
}

TEST(XSettingsIconTheme, IsWhatTheSettingsManagerPublishes) {
  testing::XvfbDisplay xvfb;
  asio::io_context io;
  auto connection = X11DesktopConnection::open(io.get_executor(), xvfb.name());
  EXPECT_EQ(xsettingsIconTheme(*connection), std::nullopt) << "no settings manager";

  // A settings manager of its own: owns the selection, holds the settings.
  Display* manager = XOpenDisplay(xvfb.name().c_str());
  ASSERT_NE(manager, nullptr);
  const Window window = XCreateSimpleWindow(manager, DefaultRootWindow(manager), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(manager, XInternAtom(manager, "_XSETTINGS_S0", False), window, CurrentTime);
  const std::string name = "Net/IconThemeName";
  const std::string value = "Papirus";
  std::string settings{'\0', 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};  // little-endian, serial 1, one setting
  settings += std::string{1, 0, static_cast<char>(name.size()), 0} + name + std::string(3, '\0');
  settings += std::string{0, 0, 0, 0, static_cast<char>(value.size()), 0, 0, 0} + value + '\0';
  XChangeProperty(manager, window, XInternAtom(manager, "_XSETTINGS_SETTINGS", False),
                  XInternAtom(manager, "_XSETTINGS_SETTINGS", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(settings.data()), static_cast<int>(settings.size()));
  XSync(manager, False);
  EXPECT_EQ(xsettingsIconTheme(*connection), "Papirus");
  XCloseDisplay(manager);
}

}  // namespace
}  // namespace glidemate::host
