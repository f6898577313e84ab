// Test helper: the desktop app with its host on loopback, and command-line
// phones as separate processes, for the app's Qt tests.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/companion/qt/companion_app.hpp"
#include "tests/host/companion/temp_folder.hpp"
#include "tests/support/child_process.hpp"

// Waits on events for the condition; the limit only keeps a broken test
// from hanging.
#define WAIT_FOR(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, 60000)

namespace glidemate::host::testing {

// A wall clock the test can move on.
struct TestClock {
  std::shared_ptr<std::atomic<std::int64_t>> aheadSeconds = std::make_shared<std::atomic<std::int64_t>>(0);
  PopoverView::Clock clock() const {
    return [ahead = aheadSeconds] { return std::chrono::system_clock::now() + std::chrono::seconds(ahead->load()); };
  }
};

// One app and the folders it keeps its data in.
struct RunningApp {
  explicit RunningApp(bool welcomeSeen = true, std::uint16_t port = 0, std::filesystem::path dataDir = {})
      : data(dataDir.empty() ? folder.path() : dataDir) {
    if (welcomeSeen && !std::filesystem::exists(data / "settings.json")) {
      std::ofstream(data / "settings.json") << R"({"hasSeenWelcome": true})";
    }
    app = std::make_unique<CompanionApp>(HostRuntime::Options{.name = "Desk",
                                                              .port = port,
                                                              .advertise = false,
                                                              .folders = {data / "keys", data / "settings.json", data / "shortcuts"},
                                                              .autostartFolder = data / "autostart",
                                                              .autostartEntry = "[Desktop Entry]\nExec=x\n"},
                                         clock.clock());
    QObject::connect(app.get(), &CompanionApp::snapshotChanged, [this] { seen.push_back(*app->snapshot()); });
  }

  // True once a code was shown for `phone` and then withdrawn, in the
  // snapshots received since the `since`th.
  bool codeCameAndWent(const std::string& phone, std::size_t since) const {
    bool shown = false;
    for (std::size_t i = since; i < seen.size(); ++i) {
      if (seen[i].pairingWith == phone) shown = true;
      if (shown && !seen[i].activeCode) return true;
    }
    return false;
  }

  // Starts it and waits until the host listens (or gave up listening).
  bool start() {
    if (!app->start()) return false;
    return QTest::qWaitFor([&] { return app->snapshot() != nullptr && app->snapshot()->listener != HostSnapshot::Listener::idle; }, 60000);
  }

  const HostSnapshot& snapshot() const { return *app->snapshot(); }
  std::string address() const { return "127.0.0.1:" + std::to_string(snapshot().port); }

  TempFolder folder;
  std::filesystem::path data;
  TestClock clock;
  std::unique_ptr<CompanionApp> app;
  // Every snapshot the app received, in order.
  std::vector<HostSnapshot> seen;
};

// The command-line phone, with an identity and a key store of its own.
struct Phone {
  std::string id;
  std::string name;
  TempFolder dir;

  std::vector<std::string> argv(std::vector<std::string> args) const {
    std::vector<std::string> all{GLIDEMATE_PHONE_BIN, "--id", id, "--name", name, "--data-dir", dir.path().string()};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  // A phone that stays connected until the host ends its session.
  std::unique_ptr<glidemate::testing::ChildProcess> stayConnected(const RunningApp& host) const {
    return std::make_unique<glidemate::testing::ChildProcess>(
        argv({"send", host.address(), "ping", "--wait", "600000"}), std::vector<std::string>{}, true);
  }
  glidemate::testing::ProgramResult ping(const RunningApp& host) const {
    return glidemate::testing::runProgram(argv({"send", host.address(), "ping", "--wait", "100"}));
  }
};

// Pairs the phone with the code the host shows, as a person would type
// it; the phone's exit status.
inline int pair(RunningApp& host, const Phone& phone) {
  glidemate::testing::ChildProcess pairing(phone.argv({"pair", host.address()}), {}, true, true);
  if (!QTest::qWaitFor([&] { return host.snapshot().pairingWith == phone.name; }, 60000)) return -1;
  pairing.writeLine(*host.snapshot().activeCode);
  return pairing.wait();
}

// The widget of the given type and name inside `root` as it is now (the
// views rebuild their content on every change; widgets added to a shown
// window appear on the next turn of the event loop), or null. Widgets
// hidden on purpose do not count.
template <class T = QWidget>
T* visible(QWidget& root, const QString& name) {
  for (T* w : root.findChildren<T*>(name)) {
    if (!(w->isHidden() && w->testAttribute(Qt::WA_WState_ExplicitShowHide))) return w;
  }
  return nullptr;
}

inline QString textOf(QWidget& root, const QString& name) {
  auto* label = visible<QLabel>(root, name);
  return label != nullptr ? label->text() : QString();
}

// Clicks the button of that name once it shows, as the mouse would.
inline bool click(QWidget& root, const QString& name) {
  // Shown and laid out, as it is by the time a person can click it.
  QAbstractButton* button = nullptr;
  const bool ready = QTest::qWaitFor(
      [&] {
        button = visible<QAbstractButton>(root, name);
        return button != nullptr && button->isVisible() && !button->rect().isEmpty();
      },
      60000);
  if (!ready) return false;
  // A check box counts clicks on its box and its text only.
  const QPoint at = button->inherits("QCheckBox") ? QPoint(6, button->height() / 2) : button->rect().center();
  QTest::mouseClick(button, Qt::LeftButton, {}, at);
  return true;
}

}  // namespace glidemate::host::testing
