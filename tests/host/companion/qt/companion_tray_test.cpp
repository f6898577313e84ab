// The desktop app on a desktop with a tray: its icon, the popover it opens,
// the pairing panel and the settings and welcome windows, with the host
// in this process on loopback and command-line phones as other processes.
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <algorithm>

#include "host/companion/qt/menu_bar_icon.hpp"
#include "host/companion/qt/pairing_panel.hpp"
#include "host/companion/qt/settings_view.hpp"
#include "host/companion/qt/welcome_view.hpp"
#include "host/server/user_defaults.hpp"
#include "tests/host/companion/qt/companion_fixture.hpp"
#include "tests/host/companion/qt/gui_environment.hpp"
#include "tests/host/companion/qt/x_window_facts.hpp"

namespace glidemate::host::testing {
namespace {

int countTopLevel(const char* className) {
  int count = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->inherits(className) && w->isVisible()) ++count;
  }
  return count;
}

QString badge(CompanionApp& app) { return textOf(app.popover(), "statusBadge"); }

}  // namespace

class CompanionTrayTest : public QObject {
  Q_OBJECT

 public:
  explicit CompanionTrayTest(GuiEnvironment& environment) : environment_(environment) {}

 private:
  GuiEnvironment& environment_;

  // What a tray does when its icon is clicked at (x, y): from another
  // process, as a panel would. True once the popover has popped up there.
  bool clickTrayIcon(CompanionApp& app, int x, int y) {
    QCursor::setPos(x, y);
    // The icon is registered under the bus name of the connection that
    // serves it; the last one registered is this test's.
    QStringList items;
    if (!QTest::qWaitFor([&] { return !(items = registeredItems()).isEmpty(); }, 60000)) return false;
    glidemate::testing::ChildProcess call({"gdbus", "call", "--session", "--dest", items.last().toStdString(),
                                           "--object-path", "/StatusNotifierItem", "--method",
                                           "org.kde.StatusNotifierItem.Activate", std::to_string(x),
                                           std::to_string(y)},
                                          {}, true);
    // The call is answered from this thread's event loop, so the test waits
    // on its effect rather than on the caller.
    return QTest::qWaitFor(
        [&] { return app.popover().mode() == PopoverView::Mode::popup && app.popover().isVisible(); }, 60000);
  }

  QStringList registeredItems() {
    QDBusInterface watcher("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher");
    return watcher.property("RegisteredStatusNotifierItems").toStringList();
  }

 private slots:
  // Each look of the icon is drawn from the mark's geometry: the cut line,
  // the pairing dot, the dimmed pause and the punched-out viewing square.
  void trayIconsAreDrawnFromTheMark() {
    const int scale = 4;
    auto alphaAt = [&](MenuBarIconStyle style, qreal x, qreal y) {
      return qAlpha(MenuBarIcon::image(style, Qt::black, scale).pixel(int(x * scale), int(y * scale)));
    };
    // The cut runs from the tip to the notch; beside it the glyph is solid.
    QCOMPARE(alphaAt(MenuBarIconStyle::idle, 12.1, 12.1), 0);
    QCOMPARE(alphaAt(MenuBarIconStyle::idle, 8, 8), 255);
    QCOMPARE(alphaAt(MenuBarIconStyle::idle, 3.4, 3.4), 0);
    // The pairing dot sits in the top-left corner.
    QCOMPARE(alphaAt(MenuBarIconStyle::pairing, 3.4, 3.4), 255);
    QCOMPARE(alphaAt(MenuBarIconStyle::pairing, 8, 8), 255);
    // Paused: the same glyph at 40 %.
    QVERIFY(qAbs(alphaAt(MenuBarIconStyle::paused, 8, 8) - 102) <= 2);
    // Viewing: a rounded square with the glyph punched out of it.
    QCOMPARE(alphaAt(MenuBarIconStyle::viewing, 0.2, 0.2), 0);
    QCOMPARE(alphaAt(MenuBarIconStyle::viewing, 2, 16), 255);
    QCOMPARE(alphaAt(MenuBarIconStyle::viewing, 8, 8), 0);
    for (auto style : {MenuBarIconStyle::idle, MenuBarIconStyle::pairing, MenuBarIconStyle::paused,
                       MenuBarIconStyle::viewing}) {
      QCOMPARE(MenuBarIcon::image(style, Qt::black, 1).size(), QSize(18, 18));
      QCOMPARE(MenuBarIcon::image(style, Qt::black, 2).size(), QSize(36, 36));
      static const char* names[] = {"idle", "pairing", "paused", "viewing"};
      GuiEnvironment::saveScreenshot(MenuBarIcon::image(style, Qt::black, scale),
                                     QString("tray-") + names[static_cast<int>(style)]);
    }
  }

  // The whole path a new phone takes: the popover listens, the panel shows
  // the code the phone types, the phone is listed, forgotten, turned away
  // by a pause and let back.
  void aPhonePairsIsForgottenAndIsPaused() {
    RunningApp host;
    QVERIFY(host.start());
    auto& app = *host.app;
    QCOMPARE(app.tray().style(), MenuBarIconStyle::idle);

    // A click on the icon near the top-right corner opens the popover
    // there, inside the screen.
    QVERIFY(clickTrayIcon(app, 1270, 4));
    auto& popover = app.popover();
    QVERIFY(popover.isVisible());
    QCOMPARE(popover.mode(), PopoverView::Mode::popup);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(screen.contains(popover.frameGeometry()));
    QVERIFY(popover.geometry().top() < 40);
    WAIT_FOR(badge(app) == QString::fromUtf8("\u25CF Listening"));
    QVERIFY(visible(popover, "noPhones") != nullptr);
    GuiEnvironment::saveScreenshot(popover, "popover-listening");
    // From here on its content is used as an ordinary window, which no
    // focus change (the window manager's, as other windows come and go)
    // takes away.
    popover.setMode(PopoverView::Mode::window);
    WAIT_FOR(popover.isVisible());

    // A phone asks to pair: the panel floats at the top-right, showing the
    // code it must type, without taking the keyboard.
    Phone ann{"PHONE-ANN", "Ann's iPhone", {}};
    glidemate::testing::ChildProcess pairing(ann.argv({"pair", host.address()}), {}, true, true);
    WAIT_FOR(app.windows().window(WindowPresenter::pairing) != nullptr);
    auto* panel = qobject_cast<PairingPanel*>(app.windows().window(WindowPresenter::pairing));
    QVERIFY(panel != nullptr);
    WAIT_FOR(panel->isVisible() && textOf(*panel, "pairingCode").size() == 6);
    const QString code = textOf(*panel, "pairingCode");
    QCOMPARE(code.toStdString(), host.snapshot().activeCode.value());
    QCOMPARE(textOf(*panel, "pairingInstruction"), QString("Type this on Ann's iPhone"));
    QCOMPARE(app.tray().style(), MenuBarIconStyle::pairing);
    WAIT_FOR(badge(app) == QString::fromUtf8("\u25CF Pairing"));
    QCOMPARE(textOf(popover, "pairingCode"), code);

    XWindowFacts x(environment_.display());
    WAIT_FOR(x.position(panel->winId()).y == PairingPanel::margin);
    QCOMPARE(x.position(panel->winId()).x, screen.right() + 1 - PairingPanel::margin - panel->width());
    QVERIFY(!x.acceptsFocus(panel->winId()));
    WAIT_FOR(std::ranges::count(x.netWmState(panel->winId()), "_NET_WM_STATE_ABOVE") == 1);
    QCOMPARE(x.desktop(panel->winId()), std::optional<std::uint32_t>(0xFFFFFFFFu));
    QVERIFY(QGuiApplication::focusWindow() != panel->windowHandle());
    QVERIFY(popover.isVisible());
    QVERIFY(x.inputFocus() != panel->winId());
    GuiEnvironment::saveScreenshot(*panel, "pairing-panel");
    GuiEnvironment::saveScreenshot(popover, "popover-pairing");

    // Another phone meanwhile gets no code, and there is still one panel.
    Phone bob{"PHONE-BOB", "Bob's iPhone", {}};
    const auto refused = glidemate::testing::runProgram(bob.argv({"pair", host.address(), "--code", "000000"}));
    QCOMPARE(refused.status, 1);
    QCOMPARE(countTopLevel("glidemate::host::PairingPanel"), 1);
    QCOMPARE(textOf(*panel, "pairingCode"), code);

    // The phone types the code: the panel goes, the phone is paired.
    pairing.writeLine(code.toStdString());
    QCOMPARE(pairing.wait(), 0);
    WAIT_FOR(app.windows().window(WindowPresenter::pairing) == nullptr);
    WAIT_FOR(textOf(popover, "used:PHONE-ANN") == "Used just now");

    // Connected, it is listed under Connected and Paired.
    auto connected = ann.stayConnected(host);
    WAIT_FOR(visible(popover, "connected:PHONE-ANN") != nullptr);
    WAIT_FOR(badge(app) == QString::fromUtf8("\u25CF Connected"));
    QVERIFY(visible(popover, "paired:PHONE-ANN") != nullptr);
    GuiEnvironment::saveScreenshot(popover, "popover-connected");

    // "Forget" asks first; confirmed, the phone must pair again.
    QVERIFY(click(popover, "forget:PHONE-ANN"));
    QCOMPARE(textOf(popover, "forgetQuestion"), QString("Ann's iPhone will need a new code to connect again."));
    GuiEnvironment::saveScreenshot(popover, "popover-forget");
    QVERIFY(click(popover, "cancelForget"));
    QVERIFY(visible(popover, "forgetQuestion") == nullptr);
    QVERIFY(click(popover, "forget:PHONE-ANN"));
    QVERIFY(click(popover, "confirmForget:PHONE-ANN"));
    WAIT_FOR(visible(popover, "paired:PHONE-ANN") == nullptr && visible(popover, "connected:PHONE-ANN") == nullptr);
    connected->wait();
    const std::size_t beforePing = host.seen.size();
    const auto forgotten = ann.ping(host);
    QCOMPARE(forgotten.status, 1);
    QVERIFY2(forgotten.err.find("not paired") != std::string::npos, forgotten.err.c_str());
    // The host offered a code for that attempt, which went with it.
    WAIT_FOR(host.codeCameAndWent("Ann's iPhone", beforePing));
    QCOMPARE(pair(host, ann), 0);
    WAIT_FOR(visible(popover, "paired:PHONE-ANN") != nullptr);

    // Pause: the banner says so and the phone is turned away; Resume lets
    // it back.
    QVERIFY(click(popover, "pauseButton"));
    WAIT_FOR(textOf(popover, "pausedBanner") == "Paused. iPhones can't connect to this computer.");
    QCOMPARE(badge(app), QString::fromUtf8("\u25CF Paused"));
    QCOMPARE(app.tray().style(), MenuBarIconStyle::paused);
    QCOMPARE(visible<QAbstractButton>(popover, "pauseButton")->text(), QString("Resume"));
    GuiEnvironment::saveScreenshot(popover, "popover-paused");
    const auto paused = ann.ping(host);
    QCOMPARE(paused.status, 1);
    QVERIFY2(paused.err.find("Glidemate is paused on this Mac") != std::string::npos, paused.err.c_str());
    QVERIFY(click(popover, "resumeFromBanner"));
    WAIT_FOR(visible(popover, "pausedBanner") == nullptr);
    QCOMPARE(ann.ping(host).status, 0);

    // Disconnect turns it away until it is allowed under Paired.
    connected = ann.stayConnected(host);
    WAIT_FOR(visible(popover, "disconnect:PHONE-ANN") != nullptr);
    QCOMPARE(visible<QToolButton>(popover, "disconnect:PHONE-ANN")->toolTip(),
             QString("End this iPhone's session. It can't reconnect until you allow it under Paired."));
    QVERIFY(click(popover, "disconnect:PHONE-ANN"));
    connected->wait();
    WAIT_FOR(visible(popover, "allow:PHONE-ANN") != nullptr);
    QCOMPARE(visible<QAbstractButton>(popover, "allow:PHONE-ANN")->toolTip(), QString("Let Ann's iPhone connect again."));
    const auto turnedAway = ann.ping(host);
    QVERIFY2(turnedAway.err.find("this iPhone was disconnected on the Mac") != std::string::npos,
             turnedAway.err.c_str());
    QVERIFY(click(popover, "allow:PHONE-ANN"));
    WAIT_FOR(visible(popover, "allow:PHONE-ANN") == nullptr);
    QCOMPARE(ann.ping(host).status, 0);

    QSignalSpy quit(&app, &CompanionApp::quitRequested);
    QVERIFY(click(popover, "quitButton"));
    QCOMPARE(quit.count(), 1);
  }

  // "Used …" moves on while the popover is open.
  void usedTimesRefresh() {
    RunningApp host;
    QVERIFY(host.start());
    Phone ann{"PHONE-ANN", "Ann's iPhone", {}};
    QCOMPARE(pair(host, ann), 0);
    auto& popover = host.app->popover();
    popover.setMode(PopoverView::Mode::window);
    popover.show();
    WAIT_FOR(popover.isVisible());
    WAIT_FOR(textOf(popover, "used:PHONE-ANN") == "Used just now");
    auto* timer = popover.findChild<QTimer*>("usedRefresh");
    QVERIFY(timer != nullptr && timer->isActive());
    host.clock.aheadSeconds->store(180);
    QMetaObject::invokeMethod(&popover, "refresh");
    WAIT_FOR(textOf(popover, "used:PHONE-ANN") == "Used 3 minutes ago");
    popover.hide();
    QVERIFY(!timer->isActive());
  }

  // Settings asked for twice is one window, brought forward; the welcome
  // window closed counts as seen; starting at login is turned on and off.
  void settingsAndWelcomeWindows() {
    RunningApp host(false);
    QVERIFY(host.start());
    auto& app = *host.app;
    WAIT_FOR(app.windows().window(WindowPresenter::welcome) != nullptr);
    auto* welcome = qobject_cast<WelcomeView*>(app.windows().window(WindowPresenter::welcome));
    QVERIFY(welcome != nullptr && welcome->isVisible());
    QCOMPARE(welcome->windowTitle(), QString("Welcome to Glidemate"));
    GuiEnvironment::saveScreenshot(*welcome, "welcome");

    // Starting at login, from the welcome window.
    const auto entry = host.data / "autostart/glidemate-companion.desktop";
    QVERIFY(click(*welcome, "startAtLogin"));
    WAIT_FOR(std::filesystem::exists(entry));
    QVERIFY(visible<QAbstractButton>(*welcome, "startAtLogin")->isChecked());
    QVERIFY(click(*welcome, "startAtLogin"));
    WAIT_FOR(!std::filesystem::exists(entry));
    // The file goes before the window hears of it: clicked while it still
    // shows "on", the box would be turned off again.
    WAIT_FOR(!visible<QAbstractButton>(*welcome, "startAtLogin")->isChecked());
    std::filesystem::create_directories(entry);  // in the way of the entry
    QVERIFY(click(*welcome, "startAtLogin"));
    WAIT_FOR(!textOf(*welcome, "loginItemProblem").isEmpty());
    QVERIFY(textOf(*welcome, "loginItemProblem").startsWith("Could not write " + QString::fromStdString(entry.string())));
    QVERIFY(!visible<QAbstractButton>(*welcome, "startAtLogin")->isChecked());
    std::filesystem::remove(entry);

    welcome->close();
    WAIT_FOR(host.snapshot().hasSeenWelcome);
    QVERIFY(app.windows().window(WindowPresenter::welcome) == nullptr);
    QCOMPARE(UserDefaults(host.data / "settings.json").boolean("hasSeenWelcome"), std::optional<bool>(true));

    app.showSettings();
    auto* settings = app.windows().window(WindowPresenter::settings);
    QVERIFY(settings != nullptr);
    QCOMPARE(settings->windowTitle(), QString("Glidemate Companion Settings"));
    WAIT_FOR(settings->isActiveWindow());
    QCOMPARE(textOf(*settings, "version"), QString("Version ") + GLIDEMATE_VERSION);
    WAIT_FOR(visible(*settings, "inputPermission") != nullptr);
    // Everything is allowed here: nothing to check again.
    QVERIFY(visible(*settings, "checkAgain") == nullptr);
    GuiEnvironment::saveScreenshot(*settings, "settings");

    // Asked again from behind another window, the same one comes forward.
    QVERIFY(click(*settings, "showWelcome"));
    WAIT_FOR(app.windows().window(WindowPresenter::welcome) != nullptr &&
             app.windows().window(WindowPresenter::welcome)->isActiveWindow());
    app.showSettings();
    QCOMPARE(app.windows().window(WindowPresenter::settings), settings);
    WAIT_FOR(settings->isActiveWindow());
    QCOMPARE(countTopLevel("glidemate::host::SettingsView"), 1);

    // "Get Started" closes the welcome window.
    QVERIFY(click(*app.windows().window(WindowPresenter::welcome), "getStarted"));
    WAIT_FOR(app.windows().window(WindowPresenter::welcome) == nullptr);

    // The next start shows no welcome.
    settings->close();
    RunningApp again(false, 0, host.data);
    host.app.reset();
    QVERIFY(again.start());
    QVERIFY(again.app->windows().window(WindowPresenter::welcome) == nullptr);
  }

  // A phone that pairs and is forgotten a hundred times leaves one panel
  // at most at any time, and none at the end.
  void aHundredPairingsLeaveOnePanelOrNone() {
    RunningApp host;
    QVERIFY(host.start());
    // Forgotten from the popover as a window of its own, which stays open
    // whichever window has the focus.
    host.app->popover().setMode(PopoverView::Mode::window);
    Phone ann{"PHONE-ANN", "Ann's iPhone", {}};
    for (int i = 0; i < 100; ++i) {
      glidemate::testing::ChildProcess pairing(ann.argv({"pair", host.address()}), {}, true, true);
      WAIT_FOR(host.snapshot().activeCode && host.app->windows().window(WindowPresenter::pairing) != nullptr);
      QVERIFY(countTopLevel("glidemate::host::PairingPanel") <= 1);
      pairing.writeLine(*host.snapshot().activeCode);
      QCOMPARE(pairing.wait(), 0);
      WAIT_FOR(!host.snapshot().pairedDevices.empty());
      QVERIFY(countTopLevel("glidemate::host::PairingPanel") <= 1);
      host.app->popover().show();
      QVERIFY(click(host.app->popover(), "forget:PHONE-ANN"));
      QVERIFY(click(host.app->popover(), "confirmForget:PHONE-ANN"));
      WAIT_FOR(host.snapshot().pairedDevices.empty());
    }
    WAIT_FOR(host.app->windows().window(WindowPresenter::pairing) == nullptr);
    QCOMPARE(countTopLevel("glidemate::host::PairingPanel"), 0);
  }

  // When the tray goes, the popover becomes a window; when it comes back,
  // the icon is registered with it again.
  void theTrayGoesAndComesBack() {
    RunningApp host;
    QVERIFY(host.start());
    auto& app = *host.app;
    WAIT_FOR(!registeredItems().isEmpty());
    environment_.stopTray();
    WAIT_FOR(app.popover().isVisible());
    QCOMPARE(app.popover().mode(), PopoverView::Mode::window);
    QVERIFY(!app.tray().isAvailable());
    // The new watcher knows nothing of the icon until it is registered anew.
    environment_.startTray();
    WAIT_FOR(!registeredItems().isEmpty());
    QVERIFY(app.tray().isAvailable());
    // The next click makes it the icon's popup again.
    const bool clicked = clickTrayIcon(app, 1270, 4);
    QVERIFY(clicked);
    QCOMPARE(app.popover().mode(), PopoverView::Mode::popup);
  }
};

}  // namespace glidemate::host::testing

int main(int argc, char** argv) {
  glidemate::host::testing::GuiEnvironment environment(true);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  glidemate::host::testing::CompanionTrayTest test(environment);
  return QTest::qExec(&test, argc, argv);
}

#include "companion_tray_test.moc"
