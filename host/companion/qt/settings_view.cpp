#include "host/companion/qt/settings_view.hpp"

#include <QLabel>
#include <QPushButton>

#include "host/companion/qt/companion_texts.hpp"
#include "host/companion/qt/design_components.hpp"

namespace glidemate::host {

QWidget* permissionRow(const QString& objectName, const QString& title, const HostSnapshot::Permission& permission) {
  const QColor tint = DSBadge::colour(permission.allowed ? DSBadge::Tone::success : DSBadge::Tone::warning);
  auto* row = new DSRow(permission.allowed ? "checkmark" : "exclamationmark.triangle.fill", title,
                        permission.allowed ? QString() : QString::fromStdString(permission.why), tint,
                        permission.allowed ? new DSBadge(CompanionTexts::allowed, DSBadge::Tone::success, false)
                                           : nullptr);
  row->setObjectName(objectName);
  return row;
}

SettingsView::SettingsView(CompanionActions actions, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)), permissions_(new QVBoxLayout),
      recheck_(new QPushButton(CompanionTexts::checkAgain)) {
  setObjectName("settingsView");
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 16, 20, 20);
  layout->setSpacing(8);

  layout->addWidget(sectionTitle("General"));
  auto* welcome = new QPushButton("Show Welcome Window");
  welcome->setObjectName("showWelcome");
  connect(welcome, &QPushButton::clicked, this, [this] { actions_.showWelcome(); });
  layout->addWidget(welcome, 0, Qt::AlignLeft);
  auto* product = new QLabel("Glidemate Companion");
  product->setStyleSheet("font-weight: 700;");
  layout->addWidget(product);
  auto* version = new QLabel(QString("Version ") + GLIDEMATE_VERSION);
  version->setObjectName("version");
  layout->addWidget(version);
  auto* readme = new QLabel(QString("<a href=\"%1\">Read me</a>").arg(CompanionTexts::readmeUrl().toString()));
  readme->setObjectName("readme");
  readme->setOpenExternalLinks(true);
  layout->addWidget(readme);
  auto* privacy = wrappedLabel(CompanionTexts::privacy);
  privacy->setObjectName("privacy");
  layout->addWidget(privacy);

  layout->addWidget(sectionTitle("Permissions"));
  layout->addLayout(permissions_);
  recheck_->setObjectName("checkAgain");
  connect(recheck_, &QPushButton::clicked, this,
          [this] { actions_.perform(HostAction{HostAction::RecheckPermissions{}}); });
  layout->addWidget(recheck_, 0, Qt::AlignLeft);
  layout->addStretch(1);
  setMinimumWidth(420);
}

void SettingsView::setSnapshot(const HostSnapshot& snapshot) {
  const HostSnapshot::Permission bus{snapshot.automation == HostSnapshot::Automation::granted, snapshot.automationWhy};
  const Shown now{snapshot.accessibility, snapshot.screenRecording, bus};
  if (shown_ == now) return;
  shown_ = now;
  clearLayout(*permissions_);
  permissions_->addWidget(permissionRow("inputPermission", CompanionTexts::inputPermission, snapshot.accessibility));
  permissions_->addWidget(
      permissionRow("capturePermission", CompanionTexts::capturePermission, snapshot.screenRecording));
  permissions_->addWidget(permissionRow("busPermission", CompanionTexts::busPermission, bus));
  recheck_->setVisible(!(snapshot.accessibility.allowed && snapshot.screenRecording.allowed && bus.allowed));
  fitAddedWidgets(*this);
}

}  // namespace glidemate::host
