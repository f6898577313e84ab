#include "host/companion/qt/popover_view.hpp"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QToolButton>
#include <algorithm>

#include "host/companion/qt/companion_texts.hpp"
#include "host/companion/qt/pairing_panel.hpp"
#include "host/companion/qt/setup_rows.hpp"
#include "host/companion/relative_time.hpp"

namespace glidemate::host {
namespace {

// A popup of its own making: a frameless window above the others that goes
// when it loses the focus. (Qt's own popups grab the pointer, which trays
// and tests alike make unreliable.)
constexpr Qt::WindowFlags popupFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

QPushButton* button(const QString& text, const QString& objectName) {
  auto* b = new QPushButton(text);
  b->setObjectName(objectName);
  return b;
}

QFrame* card(const QColor& tint) {
  auto* frame = new QFrame;
  frame->setStyleSheet(QString("QFrame#card { background: %1; border-radius: 10px; }")
                           .arg(QColor(tint.red(), tint.green(), tint.blue(), 28).name(QColor::HexArgb)));
  frame->setObjectName("card");
  return frame;
}

QFrame* separator() {
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

PopoverView::PopoverView(CompanionActions actions, Clock clock, QWidget* parent)
    : QWidget(parent, popupFlags), actions_(std::move(actions)), clock_(std::move(clock)), content_(new QVBoxLayout) {
  setObjectName("popover");
  setWindowTitle("Glidemate");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 14, 16, 12);
  layout->addLayout(content_);
  content_->setSpacing(8);
  setFixedWidth(380);
  refreshTimer_.setParent(this);
  refreshTimer_.setObjectName("usedRefresh");
  refreshTimer_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(refreshInterval));
  connect(&refreshTimer_, &QTimer::timeout, this, &PopoverView::refresh);
}

void PopoverView::setMode(Mode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  const bool wasVisible = isVisible();
  setWindowFlags(mode == Mode::popup ? popupFlags : Qt::WindowFlags(Qt::Window));
  if (wasVisible) show();
}

void PopoverView::popUpNear(const QRect& anchor) {
  adjustSize();
  QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(anchor.topLeft(), size());
  // Below the anchor when there is room (a tray at the top), else above.
  QPoint at(anchor.center().x() - width() / 2, anchor.bottom() + 6);
  if (at.y() + height() > area.bottom()) at.setY(anchor.top() - 6 - height());
  at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - width())));
  at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - height())));
  move(at);
  show();
  raise();
  activateWindow();
}

void PopoverView::setSnapshot(std::shared_ptr<const HostSnapshot> snapshot) {
  snapshot_ = std::move(snapshot);
  // A phone forgotten meanwhile needs no more confirming.
  if (confirmingForget_ && std::none_of(snapshot_->pairedDevices.begin(), snapshot_->pairedDevices.end(),
                                        [&](const PairedPeer& p) { return p.id == *confirmingForget_; })) {
    confirmingForget_.reset();
  }
  refresh();
}

bool PopoverView::event(QEvent* event) {
  if (event->type() == QEvent::WindowDeactivate && mode_ == Mode::popup) hide();
  return QWidget::event(event);
}

void PopoverView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && mode_ == Mode::popup) {
    hide();
    return;
  }
  QWidget::keyPressEvent(event);
}

void PopoverView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh();
  refreshTimer_.start();
}

void PopoverView::hideEvent(QHideEvent* event) {
  refreshTimer_.stop();
  confirmingForget_.reset();
  QWidget::hideEvent(event);
}

void PopoverView::perform(HostAction::Case action) { actions_.perform(HostAction{std::move(action)}); }

std::pair<QString, DSBadge::Tone> PopoverView::status(const HostSnapshot& s) {
  if (s.activeCode) return {"Pairing", DSBadge::Tone::warning};
  if (s.isPaused) return {"Paused", DSBadge::Tone::neutral};
  switch (s.listener) {
    case HostSnapshot::Listener::failed:
      return {"Offline", DSBadge::Tone::danger};
    case HostSnapshot::Listener::idle:
      return {"Starting", DSBadge::Tone::warning};
    case HostSnapshot::Listener::listening:
      break;
  }
  if (!s.peers.empty()) return {"Connected", DSBadge::Tone::success};
  return {"Listening", DSBadge::Tone::neutral};
}

void PopoverView::refresh() {
  // Not under a pressed button: its release would find a new button and
  // the click would be lost. Letting go of it brings the change in.
  for (auto* button : findChildren<QAbstractButton*>()) {
    if (!button->isDown()) continue;
    connect(button, &QAbstractButton::released, this, &PopoverView::refresh,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection |
                                            Qt::SingleShotConnection));
    return;
  }
  clearLayout(*content_);
  if (!snapshot_) return;
  const HostSnapshot& s = *snapshot_;
  addHeader(s);
  addBanner(s);
  addPairing(s);
  addWarnings(s);
  addPermissionCard(s);
  addConnected(s);
  addPaired(s);
  addSetup(s);
  addFooter(s);
  fitAddedWidgets(*this);
}

void PopoverView::addHeader(const HostSnapshot& s) {
  auto* header = new QHBoxLayout;
  auto* title = new QLabel("Glidemate");
  title->setStyleSheet("font-size: 17px; font-weight: 700;");
  header->addWidget(title);
  header->addStretch(1);
  const auto [text, tone] = status(s);
  auto* badge = new DSBadge(text, tone, true);
  badge->setObjectName("statusBadge");
  header->addWidget(badge);
  content_->addLayout(header);
  if (s.listener == HostSnapshot::Listener::failed && !s.isPaused && !s.activeCode) {
    auto* why = wrappedLabel(QString::fromStdString("iPhones can't reach this computer: " + s.listenerFailure));
    why->setObjectName("listenerFailure");
    content_->addWidget(why);
  }
}

// Phones watching the screen come before the pause.
void PopoverView::addBanner(const HostSnapshot& s) {
  if (!s.viewers.empty()) {
    auto* banner = card(DSBadge::colour(DSBadge::Tone::neutral));
    auto* row = new QHBoxLayout(banner);
    row->addWidget(new DSIconWell("eye.fill", DSBadge::colour(DSBadge::Tone::neutral)));
    QStringList names;
    for (const auto& name : s.viewers) names << QString::fromStdString(name);
    auto* text = wrappedLabel(QLocale().createSeparatedList(names) + " viewing your screen.");
    text->setObjectName("viewersBanner");
    row->addWidget(text, 1);
    auto* stop = button("Stop", "stopPreviews");
    connect(stop, &QPushButton::clicked, this, [this] { perform(HostAction::StopAllPreviews{}); });
    row->addWidget(stop);
    content_->addWidget(banner);
    return;
  }
  if (!s.isPaused) return;
  auto* banner = card(DSBadge::colour(DSBadge::Tone::neutral));
  auto* row = new QHBoxLayout(banner);
  row->addWidget(new DSIconWell("pause.fill", DSBadge::colour(DSBadge::Tone::neutral)));
  auto* text = wrappedLabel("Paused. iPhones can't connect to this computer.");
  text->setObjectName("pausedBanner");
  row->addWidget(text, 1);
  auto* resume = button("Resume", "resumeFromBanner");
  connect(resume, &QPushButton::clicked, this, [this] { perform(HostAction::SetPaused{false}); });
  row->addWidget(resume);
  content_->addWidget(banner);
}

void PopoverView::addPairing(const HostSnapshot& s) {
  if (s.activeCode) {
    content_->addWidget(sectionTitle("Pairing"));
    auto* frame = card(DSBadge::colour(DSBadge::Tone::warning));
    auto* inside = new QVBoxLayout(frame);
    auto* code = new PairingCodeCard([this] { perform(HostAction::DeclinePairing{}); });
    code->setSnapshot(s);
    inside->addWidget(code);
    content_->addWidget(frame);
    return;
  }
  if (!s.throttledUntil) return;
  auto* warning = card(DSBadge::colour(DSBadge::Tone::warning));
  auto* row = new QHBoxLayout(warning);
  row->addWidget(new DSIconWell("exclamationmark.triangle.fill", DSBadge::colour(DSBadge::Tone::warning)));
  auto* text = wrappedLabel("Too many wrong codes. Pairing is paused for a few minutes.");
  text->setObjectName("throttleWarning");
  row->addWidget(text, 1);
  auto* allow = button("Allow pairing", "allowPairing");
  connect(allow, &QPushButton::clicked, this, [this] { perform(HostAction::AllowPairing{}); });
  row->addWidget(allow);
  content_->addWidget(warning);
}

void PopoverView::addWarnings(const HostSnapshot& s) {
  const QColor danger = DSBadge::colour(DSBadge::Tone::danger);
  if (s.storageError) {
    auto* row = new DSRow("exclamationmark.triangle.fill",
                          QString::fromStdString("Pairing will not stick: " + *s.storageError), {}, danger);
    row->setObjectName("storageWarning");
    content_->addWidget(row);
  }
  if (s.settingsProblem) {
    QString why = QString::fromStdString(*s.settingsProblem);
    if (!why.isEmpty()) why[0] = why[0].toUpper();
    auto* row = new DSRow("exclamationmark.triangle.fill", "Settings are not being saved",
                          why + ". Mend or remove it, then restart Glidemate.", danger);
    row->setObjectName("settingsWarning");
    content_->addWidget(row);
  }
}

void PopoverView::addPermissionCard(const HostSnapshot& s) {
  if (s.accessibility.allowed) return;
  const QColor tint = DSBadge::colour(DSBadge::Tone::warning);
  auto* frame = card(tint);
  frame->setObjectName("card");
  auto* inside = new QVBoxLayout(frame);
  using Question = HostSnapshot::InputQuestion;
  auto* row = new DSRow("hand.raised.fill", "Permission needed",
                        s.inputQuestion == Question::none ? CompanionTexts::inputNeeded
                                                          : CompanionTexts::desktopPermissionNeeded,
                        tint);
  row->setObjectName("permissionCard");
  inside->addWidget(row);
  auto* why = wrappedLabel(QString::fromStdString(s.accessibility.why));
  why->setObjectName("permissionWhy");
  inside->addWidget(why);
  // While the desktop's question is open, answering it is all there is to do.
  if (s.inputQuestion == Question::refused) {
    auto* ask = button(CompanionTexts::askAgain, "askInputAgain");
    connect(ask, &QPushButton::clicked, this, [this] { perform(HostAction::AskForInputAgain{}); });
    inside->addWidget(ask, 0, Qt::AlignLeft);
  } else if (s.inputQuestion == Question::none) {
    auto* recheck = button(CompanionTexts::checkAgain, "checkAgain");
    connect(recheck, &QPushButton::clicked, this, [this] { perform(HostAction::RecheckPermissions{}); });
    inside->addWidget(recheck, 0, Qt::AlignLeft);
  }
  content_->addWidget(frame);
}

void PopoverView::addConnected(const HostSnapshot& s) {
  content_->addWidget(sectionTitle("Connected"));
  const QColor tint = DSBadge::colour(DSBadge::Tone::success);
  if (s.peers.empty()) {
    auto* row = new DSRow("iphone", "No iPhones", "Open Glidemate on your iPhone. It'll show up here in a second.",
                          DSBadge::colour(DSBadge::Tone::neutral));
    row->setObjectName("noPhones");
    content_->addWidget(row);
    return;
  }
  for (const auto& peer : s.peers) {
    const QString id = QString::fromStdString(peer.id);
    auto* disconnect = new QToolButton;
    disconnect->setObjectName("disconnect:" + id);
    disconnect->setText("Disconnect");
    disconnect->setToolTip("End this iPhone's session. It can't reconnect until you allow it under Paired.");
    connect(disconnect, &QToolButton::clicked, this, [this, peerId = peer.id] { perform(HostAction::Disconnect{peerId}); });
    const QString name = QString::fromStdString(peer.name) + (peer.viewing ? " · Viewing screen" : "");
    auto* row = new DSRow("iphone", name, {}, tint, disconnect);
    row->setObjectName("connected:" + id);
    content_->addWidget(row);
  }
}

void PopoverView::addPaired(const HostSnapshot& s) {
  if (s.pairedDevices.empty()) return;
  content_->addWidget(sectionTitle("Paired"));
  const auto now = clock_();
  const QColor tint = DSBadge::colour(DSBadge::Tone::neutral);
  for (const auto& peer : s.pairedDevices) {
    const QString id = QString::fromStdString(peer.id);
    const QString name = QString::fromStdString(peer.name);
    auto* actions = new QWidget;
    auto* buttons = new QHBoxLayout(actions);
    buttons->setContentsMargins(0, 0, 0, 0);
    if (s.disconnectedPeers.contains(peer.id)) {
      auto* allow = button("Allow", "allow:" + id);
      allow->setToolTip("Let " + name + " connect again.");
      connect(allow, &QPushButton::clicked, this, [this, peerId = peer.id] { perform(HostAction::Allow{peerId}); });
      buttons->addWidget(allow);
    }
    auto* forget = button("Forget", "forget:" + id);
    connect(forget, &QPushButton::clicked, this, [this, peerId = peer.id] {
      confirmingForget_ = peerId;
      refresh();
    });
    buttons->addWidget(forget);
    auto* row = new DSRow("iphone", name, QString::fromStdString("Used " + relativeTime(peer.lastSeen, now)), tint,
                          actions);
    row->setObjectName("paired:" + id);
    row->subtitleLabel()->setObjectName("used:" + id);
    content_->addWidget(row);

    if (confirmingForget_ != peer.id) continue;
    auto* confirm = card(DSBadge::colour(DSBadge::Tone::danger));
    auto* rows = new QVBoxLayout(confirm);
    auto* question = wrappedLabel(name + " will need a new code to connect again.");
    question->setObjectName("forgetQuestion");
    rows->addWidget(question);
    auto* inside = new QHBoxLayout;
    inside->addStretch(1);
    rows->addLayout(inside);
    auto* cancel = button("Cancel", "cancelForget");
    connect(cancel, &QPushButton::clicked, this, [this] {
      confirmingForget_.reset();
      refresh();
    });
    inside->addWidget(cancel);
    auto* yes = button("Forget", "confirmForget:" + id);
    connect(yes, &QPushButton::clicked, this, [this, peerId = peer.id] {
      confirmingForget_.reset();
      perform(HostAction::Forget{peerId});
      refresh();
    });
    inside->addWidget(yes);
    content_->addWidget(confirm);
  }
}

void PopoverView::addSetup(const HostSnapshot& s) {
  if (!SetupRows::needsUser(s)) return;
  content_->addWidget(sectionTitle("Setup"));
  auto* rows = new SetupRows(s, actions_);
  rows->setObjectName("setup");
  content_->addWidget(rows);
}

void PopoverView::addFooter(const HostSnapshot& s) {
  content_->addWidget(separator());
  auto* footer = new QHBoxLayout;
  auto* settings = button("Settings", "settingsButton");
  connect(settings, &QPushButton::clicked, this, [this] { actions_.openSettings(); });
  footer->addWidget(settings);
  footer->addStretch(1);
  auto* pause = button(s.isPaused ? "Resume" : "Pause", "pauseButton");
  pause->setToolTip(s.isPaused ? "Let iPhones connect again"
                               : "Disconnect every iPhone and turn them away until you resume");
  connect(pause, &QPushButton::clicked, this, [this, paused = s.isPaused] { perform(HostAction::SetPaused{!paused}); });
  footer->addWidget(pause);
  auto* quit = button("Quit", "quitButton");
  connect(quit, &QPushButton::clicked, this, [this] { actions_.quit(); });
  footer->addWidget(quit);
  content_->addLayout(footer);
}

}  // namespace glidemate::host
