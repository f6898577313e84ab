#include "host/companion/qt/pairing_panel.hpp"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include "host/companion/qt/sticky_window.hpp"

namespace glidemate::host {

PairingCodeCard::PairingCodeCard(std::function<void()> decline, QWidget* parent)
    : QWidget(parent), code_(new QLabel), instruction_(new QLabel) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  auto* title = new QLabel("Pair with Glidemate");
  title->setStyleSheet("font-weight: 700; font-size: 15px;");
  layout->addWidget(title);
  code_->setObjectName("pairingCode");
  code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  code_->setStyleSheet("font-family: 'DejaVu Sans Mono', monospace; font-size: 30px; font-weight: 700; letter-spacing: 6px;");
  layout->addWidget(code_);
  instruction_->setObjectName("pairingInstruction");
  instruction_->setWordWrap(true);
  layout->addWidget(instruction_);
  auto* notMe = new QPushButton("Not me");
  notMe->setObjectName("notMe");
  notMe->setFocusPolicy(Qt::NoFocus);
  connect(notMe, &QPushButton::clicked, this, [decline = std::move(decline)] { decline(); });
  layout->addWidget(notMe, 0, Qt::AlignLeft);
}

QString PairingCodeCard::instruction(const HostSnapshot& snapshot) {
  if (snapshot.pairingWith) return QString::fromStdString("Type this on " + *snapshot.pairingWith);
  return "Type this on your iPhone.";
}

void PairingCodeCard::setSnapshot(const HostSnapshot& snapshot) {
  code_->setText(QString::fromStdString(snapshot.activeCode.value_or("")));
  instruction_->setText(instruction(snapshot));
}

PairingPanel::PairingPanel(std::function<void()> decline, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      card_(new PairingCodeCard(std::move(decline))) {
  setObjectName("pairingPanel");
  setWindowTitle("Pair with Glidemate");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TranslucentBackground);
  setFocusPolicy(Qt::NoFocus);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(18, 16, 12, 16);
  layout->addWidget(card_, 1);
  auto* close = new QToolButton;
  close->setObjectName("closePanel");
  close->setText(QString::fromUtf8("\u2715"));
  close->setToolTip("Close");
  close->setAutoRaise(true);
  close->setFocusPolicy(Qt::NoFocus);
  connect(close, &QToolButton::clicked, this, &QWidget::close);
  layout->addWidget(close, 0, Qt::AlignTop);
  setMinimumWidth(300);
}

void PairingPanel::placeAtTopRight() {
  adjustSize();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  move(area.right() + 1 - margin - width(), area.top() + margin);
}

void PairingPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  showOnEveryWorkspace(*this);
}

void PairingPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath background;
  background.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
  painter.fillPath(background, palette().window());
  painter.setPen(QPen(palette().mid().color(), 1));
  painter.drawPath(background);
}

void PairingPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void PairingPanel::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
}

}  // namespace glidemate::host
