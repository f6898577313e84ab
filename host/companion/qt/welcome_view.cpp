#include "host/companion/qt/welcome_view.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "host/companion/qt/companion_texts.hpp"
#include "host/companion/qt/design_components.hpp"
#include "host/companion/qt/menu_bar_icon.hpp"
#include "host/companion/qt/settings_view.hpp"

namespace glidemate::host {

WelcomeView::WelcomeView(CompanionActions actions, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent), actions_(actions), input_(new QVBoxLayout), login_(new LoginItemToggle(CompanionTexts::openAtLogin, actions)) {
  setObjectName("welcomeView");
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(10);
  auto* heading = new QLabel(title);
  heading->setStyleSheet("font-size: 22px; font-weight: 700;");
  layout->addWidget(heading);
  layout->addWidget(wrappedLabel("Your iPhone becomes a trackpad, keyboard and remote for this computer."));
  layout->addSpacing(6);

  // Posting input.
  auto* inputRow = new QVBoxLayout;
  inputRow->addWidget(new DSRow("hand.raised.fill", CompanionTexts::inputPermission,
                                "Required to move the pointer and type.", DSBadge::colour(DSBadge::Tone::warning)));
  input_->setContentsMargins(38, 0, 0, 0);
  inputRow->addLayout(input_);
  layout->addLayout(inputRow);

  // Starting at login.
  layout->addWidget(new DSRow("power", CompanionTexts::startAtLogin, "So your iPhone can always find it.",
                              DSBadge::colour(DSBadge::Tone::neutral)));
  auto* loginRow = new QHBoxLayout;
  loginRow->setContentsMargins(38, 0, 0, 0);
  login_->setObjectName("welcomeLoginItem");
  loginRow->addWidget(login_);
  layout->addLayout(loginRow);

  // The phone app.
  auto* learnMore = new QLabel(QString("<a href=\"%1\">Learn more</a>").arg(CompanionTexts::readmeUrl().toString()));
  learnMore->setOpenExternalLinks(true);
  layout->addWidget(new DSRow("iphone", "Get Glidemate for iPhone", "Coming soon on the App Store.",
                              DSBadge::colour(DSBadge::Tone::neutral), learnMore));

  layout->addSpacing(6);
  auto* tray = new QHBoxLayout;
  tray->addWidget(new QLabel("Glidemate lives in your system tray:"));
  auto* glyph = new QLabel;
  glyph->setPixmap(QPixmap::fromImage(MenuBarIcon::image(MenuBarIconStyle::idle, palette().windowText().color(), 2)));
  tray->addWidget(glyph);
  tray->addStretch(1);
  layout->addLayout(tray);
  layout->addWidget(wrappedLabel("Click it to pair and see connected iPhones."));

  auto* done = new QPushButton("Get Started");
  done->setObjectName("getStarted");
  done->setDefault(true);
  connect(done, &QPushButton::clicked, this, [onDone = std::move(onDone)] { onDone(); });
  layout->addWidget(done, 0, Qt::AlignRight);
  setMinimumWidth(460);
}

void WelcomeView::setSnapshot(const HostSnapshot& snapshot) {
  login_->setSnapshot(snapshot);
  // Rebuilt only when it changes, so that no click on it is lost.
  if (shownInput_ == snapshot.accessibility) return;
  shownInput_ = snapshot.accessibility;
  clearLayout(*input_);
  if (snapshot.accessibility.allowed) {
    input_->addWidget(new DSBadge(CompanionTexts::allowed, DSBadge::Tone::success, false), 0, Qt::AlignLeft);
  } else {
    input_->addWidget(wrappedLabel(QString::fromStdString(snapshot.accessibility.why)));
    // The reason says where the desktop's question stands, so it changes
    // with it: the row is rebuilt with the one button that helps then.
    if (snapshot.inputQuestion == HostSnapshot::InputQuestion::refused) {
      auto* ask = new QPushButton(CompanionTexts::askAgain);
      ask->setObjectName("askInputAgain");
      connect(ask, &QPushButton::clicked, this,
              [this] { actions_.perform(HostAction{HostAction::AskForInputAgain{}}); });
      input_->addWidget(ask, 0, Qt::AlignLeft);
    } else if (snapshot.inputQuestion == HostSnapshot::InputQuestion::none) {
      auto* recheck = new QPushButton(CompanionTexts::checkAgain);
      connect(recheck, &QPushButton::clicked, this,
              [this] { actions_.perform(HostAction{HostAction::RecheckPermissions{}}); });
      input_->addWidget(recheck, 0, Qt::AlignLeft);
    }
  }
  fitAddedWidgets(*this);
}

}  // namespace glidemate::host
