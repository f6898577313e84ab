#include "host/companion/qt/companion_app.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>

#include "host/companion/qt/pairing_panel.hpp"
#include "host/companion/qt/settings_view.hpp"
#include "host/companion/qt/welcome_view.hpp"

namespace glidemate::host {
namespace {

// Asks to quit when the popover, shown as the only window for want of a
// tray, is closed.
class QuitOnClose final : public QObject {
 public:
  QuitOnClose(Tray& tray, std::function<void()> quit, QObject* parent)
      : QObject(parent), tray_(tray), quit_(std::move(quit)) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close && !tray_.isAvailable()) quit_();
    return false;
  }

 private:
  Tray& tray_;
  std::function<void()> quit_;
};

void centre(QWidget& window) {
  window.adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window.move(area.left() + (area.width() - window.width()) / 2, area.top() + (area.height() - window.height()) / 2);
  }
}

void bringForward(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

CompanionApp::CompanionApp(HostRuntime::Options options, PopoverView::Clock clock)
    : options_(std::move(options)), popover_(std::make_unique<PopoverView>(actions(), std::move(clock))) {
  popover_->installEventFilter(new QuitOnClose(tray_, [this] { emit quitRequested(); }, this));
  connect(&tray_, &Tray::clicked, this, &CompanionApp::openPopover);
  connect(&tray_, &Tray::availabilityChanged, this, &CompanionApp::trayChanged);
}

CompanionApp::~CompanionApp() {
  // The host goes first: nothing may arrive for windows that are gone.
  runtime_.reset();
}

CompanionActions CompanionApp::actions() {
  return CompanionActions{
      .perform = [this](HostAction action) { perform(std::move(action)); },
      .openSettings = [this] { showSettings(); },
      .showWelcome = [this] { showWelcome(); },
      .quit = [this] { emit quitRequested(); },
  };
}

bool CompanionApp::start() {
  // Snapshots arrive on the host's thread; each is handed to this object's
  // thread, where the windows live.
  auto sink = [this](std::shared_ptr<const HostSnapshot> snapshot) {
    QMetaObject::invokeMethod(this, [this, snapshot] { receive(snapshot); }, Qt::QueuedConnection);
  };
  try {
    runtime_ = std::make_unique<HostRuntime>(options_, sink);
  } catch (const std::exception& e) {
    const QString why = QString("Glidemate could not start: %1").arg(e.what());
    std::fprintf(stderr, "glidemate-companion: %s\n", why.toLocal8Bit().constData());
    QMessageBox::critical(nullptr, "Glidemate Companion", why);
    return false;
  }
  if (!tray_.start()) {
    std::fprintf(stderr,
                 "glidemate-companion: no system tray here (no StatusNotifierWatcher on the session bus and no "
                 "XEmbed tray on the display), so Glidemate opens as a window; closing it quits.\n");
    trayChanged(false);
  }
  connect(&tray_, &Tray::availabilityChanged, this, [](bool available) {
    if (!available) {
      std::fprintf(stderr, "glidemate-companion: the system tray went away; Glidemate opens as a window until it "
                           "is back.\n");
    }
  });
  return true;
}

void CompanionApp::perform(HostAction action) {
  if (runtime_) runtime_->perform(std::move(action));
}

void CompanionApp::receive(std::shared_ptr<const HostSnapshot> snapshot) {
  const std::optional<std::string> previousCode = snapshot_ ? snapshot_->activeCode : std::nullopt;
  snapshot_ = std::move(snapshot);
  const HostSnapshot& s = *snapshot_;
  tray_.setStyle(menuBarIconStyle(s));
  popover_->setSnapshot(snapshot_);
  if (auto* settings = qobject_cast<SettingsView*>(windows_.window(WindowPresenter::settings))) settings->setSnapshot(s);
  if (auto* welcome = qobject_cast<WelcomeView*>(windows_.window(WindowPresenter::welcome))) welcome->setSnapshot(s);

  auto* panel = qobject_cast<PairingPanel*>(windows_.window(WindowPresenter::pairing));
  if (panel != nullptr) panel->setSnapshot(s);
  if (s.activeCode != previousCode) {
    if (s.activeCode) {
      showPairingPanel();
    } else {
      windows_.close(WindowPresenter::pairing);
    }
  }

  if (!welcomeChecked_) {
    welcomeChecked_ = true;
    if (!s.hasSeenWelcome) showWelcome();
  }
  emit snapshotChanged();
}

void CompanionApp::showPairingPanel() {
  if (windows_.window(WindowPresenter::pairing) != nullptr) return;
  auto* panel = new PairingPanel([this] { perform(HostAction{HostAction::DeclinePairing{}}); });
  panel->setSnapshot(*snapshot_);
  panel->placeAtTopRight();
  windows_.registerWindow(panel, WindowPresenter::pairing);
  panel->show();
}

void CompanionApp::showSettings() {
  if (popover_->mode() == PopoverView::Mode::popup) popover_->hide();
  if (QWidget* existing = windows_.window(WindowPresenter::settings)) {
    bringForward(*existing);
    return;
  }
  auto* settings = new SettingsView(actions());
  if (snapshot_) settings->setSnapshot(*snapshot_);
  centre(*settings);
  windows_.registerWindow(settings, WindowPresenter::settings);
  bringForward(*settings);
}

void CompanionApp::showWelcome() {
  if (QWidget* existing = windows_.window(WindowPresenter::welcome)) {
    bringForward(*existing);
    return;
  }
  auto markSeen = [this] { perform(HostAction{HostAction::MarkWelcomeSeen{}}); };
  auto* welcome = new WelcomeView(actions(), [this, markSeen] {
    markSeen();
    windows_.close(WindowPresenter::welcome);
  });
  if (snapshot_) welcome->setSnapshot(*snapshot_);
  centre(*welcome);
  windows_.registerWindow(welcome, WindowPresenter::welcome, markSeen);
  bringForward(*welcome);
}

void CompanionApp::openPopover() {
  if (popover_->mode() == PopoverView::Mode::window) {
    if (!tray_.isAvailable()) {
      bringForward(*popover_);
      return;
    }
    // The tray is back: the window becomes the icon's popup again.
    popover_->hide();
    popover_->setMode(PopoverView::Mode::popup);
  }
  const QRect icon = tray_.geometry();
  popover_->popUpNear(icon.isValid() && !icon.isEmpty() ? icon : QRect(QCursor::pos(), QSize(1, 1)));
}

void CompanionApp::trayChanged(bool available) {
  // A window the user has open stays open when the tray comes back; the
  // next click on the icon makes it the popup again.
  if (available) {
    if (!popover_->isVisible()) popover_->setMode(PopoverView::Mode::popup);
    return;
  }
  // Without a tray the popover is the app's window.
  popover_->setMode(PopoverView::Mode::window);
  if (!popover_->isVisible()) {
    centre(*popover_);
    bringForward(*popover_);
  }
}

}  // namespace glidemate::host
