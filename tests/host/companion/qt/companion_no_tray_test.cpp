// The desktop app where there is no tray, and with what can go wrong at
// its start: settings that can't be read, a port that is taken.
#include <QApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <fstream>
#include <sdbus-c++/sdbus-c++.h>
#include <sstream>

#include "tests/host/companion/qt/companion_fixture.hpp"
#include "tests/host/companion/qt/gui_environment.hpp"
#include "tests/support/dbus_mock.hpp"

namespace glidemate::host::testing {

class CompanionNoTrayTest : public QObject {
  Q_OBJECT

 public:
  explicit CompanionNoTrayTest(GuiEnvironment& environment) : environment_(environment) {}

 private:
  GuiEnvironment& environment_;

 private slots:
  // Without a tray the popover opens at start as an ordinary window, and
  // closing it ends the app.
  void thePopoverIsTheAppsWindow() {
    RunningApp host;
    QVERIFY(host.start());
    auto& popover = host.app->popover();
    WAIT_FOR(popover.isVisible());
    QCOMPARE(popover.mode(), PopoverView::Mode::window);
    QCOMPARE(popover.windowType(), Qt::Window);
    QCOMPARE(popover.windowTitle(), QString("Glidemate"));
    QVERIFY(!host.app->tray().isAvailable());
    WAIT_FOR(textOf(popover, "statusBadge") == QString::fromUtf8("\u25CF Listening"));
    GuiEnvironment::saveScreenshot(popover, "popover-window");

    QSignalSpy quit(host.app.get(), &CompanionApp::quitRequested);
    popover.close();
    QCOMPARE(quit.count(), 1);
  }

  // Settings that can't be read are shown, not overwritten: the welcome
  // window done counts for this run only.
  void unreadableSettingsAreShownAndKept() {
    struct Case {
      const char* name;
      void (*make)(const std::filesystem::path&);
      const char* why;
    };
    const Case cases[] = {
        {"a folder", [](const std::filesystem::path& f) { std::filesystem::create_directory(f); }, "it is a folder"},
        {"corrupt", [](const std::filesystem::path& f) { std::ofstream(f) << "{\"hostId\": \"AB"; },
         "it is not a JSON object"},
    };
    for (const auto& c : cases) {
      TempFolder dir;
      const auto file = dir / "settings.json";
      c.make(file);
      RunningApp host(false, 0, dir.path());
      QVERIFY2(host.start(), c.name);
      auto& popover = host.app->popover();
      WAIT_FOR(visible(popover, "settingsWarning") != nullptr);
      auto* row = visible(popover, "settingsWarning");
      QVERIFY2(!row->findChildren<QLabel*>().isEmpty(), c.name);
      bool named = false;
      for (auto* label : row->findChildren<QLabel*>()) named = named || label->text().contains(c.why);
      QVERIFY2(named, c.name);
      if (std::string(c.name) == "a folder") {
        GuiEnvironment::saveScreenshot(popover, "popover-settings-problem");
      }

      WAIT_FOR(host.app->windows().window(WindowPresenter::welcome) != nullptr);
      QVERIFY(click(*host.app->windows().window(WindowPresenter::welcome), "getStarted"));
      WAIT_FOR(host.snapshot().hasSeenWelcome);
      if (std::filesystem::is_directory(file)) continue;
      std::stringstream text;
      text << std::ifstream(file).rdbuf();
      QCOMPARE(text.str(), std::string("{\"hostId\": \"AB"));
    }
  }

  // On a Wayland desktop reached through its portal, the desktop asks the
  // user to allow remote control: the card says so while the question is
  // open, offers to ask again once it was refused, and goes once allowed.
  // The double of the portal plays the user's answers.
  void theDesktopsQuestionShowsAndCanBeAskedAgain() {
    const std::string portalName = "org.freedesktop.portal.Desktop";
    const std::string portalPath = "/org/freedesktop/portal/desktop";
    const std::string control = "org.glidemate.tests.PortalControl";
    auto& bus = environment_.bus();
    // A Wayland session whose compositor offers nothing of its own, for
    // this test only.
    struct WaylandSession {
      glidemate::testing::PrivateBus& bus;
      WaylandSession(glidemate::testing::PrivateBus& b) : bus(b) {
        setenv("XDG_SESSION_TYPE", "wayland", 1);
        setenv("WAYLAND_DISPLAY", "wayland-none", 1);
      }
      ~WaylandSession() {
        unsetenv("XDG_SESSION_TYPE");
        unsetenv("WAYLAND_DISPLAY");
        bus.stopMocks();
      }
    } session(bus);
    bus.startMock({"-t", GLIDEMATE_DESKTOP_PORTAL_TEMPLATE, "--logfile", (bus.folder() / "portal.log").string()},
                  portalName);
    glidemate::testing::DBusMockClient mock(bus.address());
    auto portal = sdbus::createProxy(mock.connection(), portalName, portalPath);
    portal->callMethod("HoldStart").onInterface(control).withArguments(true);
    {
      // A first start: the welcome window's row says the same.
      RunningApp host(false);
      QVERIFY(host.start());
      auto& popover = host.app->popover();
      WAIT_FOR(textOf(popover, "permissionWhy").contains("will ask you to allow remote control"));
      QVERIFY(visible(popover, "askInputAgain") == nullptr);
      QVERIFY(visible(popover, "checkAgain") == nullptr);
      GuiEnvironment::saveScreenshot(popover, "popover-desktop-asks");

      // Returns once the desktop's dialog was open and refused.
      portal->callMethod("AnswerStart").onInterface(control).withArguments(std::uint32_t{1});
      WAIT_FOR(textOf(popover, "permissionWhy").contains("was refused"));
      GuiEnvironment::saveScreenshot(popover, "popover-desktop-refused");
      QWidget* welcome = host.app->windows().window(WindowPresenter::welcome);
      QVERIFY(welcome != nullptr);
      WAIT_FOR(visible(*welcome, "askInputAgain") != nullptr);
      QVERIFY(click(popover, "askInputAgain"));
      // The desktop asks again, and this time the user allows it.
      portal->callMethod("AnswerStart").onInterface(control).withArguments(std::uint32_t{0});
      WAIT_FOR(visible(popover, "permissionCard") == nullptr);
      QCOMPARE(mock.calls(portalName, portalPath, "Start").size(), 2u);
    }
  }

  // A taken port leaves the host offline, says why, and the window still
  // answers.
  void aPortInUseShowsOffline() {
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::Any, 0));
    RunningApp host(true, taken.serverPort());
    QVERIFY(host.start());
    auto& popover = host.app->popover();
    WAIT_FOR(textOf(popover, "statusBadge") == QString::fromUtf8("\u25CF Offline"));
    QVERIFY(textOf(popover, "listenerFailure").contains("in use"));
    GuiEnvironment::saveScreenshot(popover, "popover-offline");
    QVERIFY(click(popover, "settingsButton"));
    WAIT_FOR(host.app->windows().window(WindowPresenter::settings) != nullptr);
  }
};

}  // namespace glidemate::host::testing

int main(int argc, char** argv) {
  glidemate::host::testing::GuiEnvironment environment(false);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  glidemate::host::testing::CompanionNoTrayTest test(environment);
  return QTest::qExec(&test, argc, argv);
}

#include "companion_no_tray_test.moc"
