#include "host/companion/qt/setup_rows.hpp"

#include <QVBoxLayout>

#include "host/companion/qt/companion_texts.hpp"
#include "host/companion/qt/design_components.hpp"

namespace glidemate::host {

LoginItemToggle::LoginItemToggle(const QString& title, CompanionActions actions, QWidget* parent)
    : QWidget(parent), box_(new QCheckBox(title)), problem_(wrappedLabel({})) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  box_->setObjectName("startAtLogin");
  layout->addWidget(box_);
  problem_->setObjectName("loginItemProblem");
  problem_->setStyleSheet(QString("color: %1;").arg(DSBadge::colour(DSBadge::Tone::danger).name()));
  layout->addWidget(problem_);
  connect(box_, &QCheckBox::toggled, this, [perform = actions.perform](bool on) {
    perform(HostAction{HostAction::SetStartAtLogin{on}});
  });
}

void LoginItemToggle::setSnapshot(const HostSnapshot& snapshot) {
  // What the host reports, not what was clicked: a failed change flips back.
  const QSignalBlocker quiet(box_);
  box_->setChecked(snapshot.loginItemEnabled);
  problem_->setText(QString::fromStdString(snapshot.loginItemProblem.value_or("")));
  problem_->setVisible(snapshot.loginItemProblem.has_value());
}

bool SetupRows::needsUser(const HostSnapshot& snapshot) {
  return !snapshot.screenRecording.allowed || snapshot.bluetooth == HostSnapshot::Bluetooth::unauthorised ||
         snapshot.bluetooth == HostSnapshot::Bluetooth::poweredOff || snapshot.loginItemProblem.has_value();
}

QString SetupRows::bluetoothText(HostSnapshot::Bluetooth state) {
  switch (state) {
    case HostSnapshot::Bluetooth::idle:
      return "Starting";
    case HostSnapshot::Bluetooth::unsupported:
      return "Not supported";
    case HostSnapshot::Bluetooth::unauthorised:
      return "Not allowed";
    case HostSnapshot::Bluetooth::poweredOff:
      return "Turned off";
    case HostSnapshot::Bluetooth::advertising:
      return "Ready";
  }
  return {};
}

SetupRows::SetupRows(const HostSnapshot& snapshot, CompanionActions actions, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  const QColor tint = DSBadge::colour(DSBadge::Tone::neutral);
  const bool capture = snapshot.screenRecording.allowed;
  auto* preview = new DSRow("display", "Screen preview",
                            capture ? QString() : QString::fromStdString(snapshot.screenRecording.why), tint,
                            capture ? new DSBadge(CompanionTexts::allowed, DSBadge::Tone::success, false) : nullptr);
  preview->setObjectName("screenPreviewRow");
  layout->addWidget(preview);
  auto* bluetooth = new DSRow("bluetooth", "Bluetooth fallback", {}, tint, new QLabel(bluetoothText(snapshot.bluetooth)));
  bluetooth->setObjectName("bluetoothRow");
  layout->addWidget(bluetooth);
  auto* login = new LoginItemToggle(CompanionTexts::startAtLogin, std::move(actions));
  login->setSnapshot(snapshot);
  layout->addWidget(login);
}

}  // namespace glidemate::host
