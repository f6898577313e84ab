#include "host/companion/qt/design_components.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <map>

namespace glidemate::host {
namespace {

// Characters that common fonts (DejaVu Sans, which Debian installs with
// Qt) draw, standing in for the named symbols.
QString symbolText(const QString& symbol) {
  static const std::map<QString, QString> symbols = {
      {"pause.fill", QString::fromUtf8("\u275A\u275A")},
      {"eye.fill", QString::fromUtf8("\u25C9")},
      {"exclamationmark.triangle.fill", QString::fromUtf8("\u26A0")},
      {"hand.raised.fill", QString::fromUtf8("\u261D")},
      {"checkmark", QString::fromUtf8("\u2713")},
      {"bluetooth", QString::fromUtf8("\u2301")},
      {"display", QString::fromUtf8("\u25AD")},
      {"power", QString::fromUtf8("\u21BB")},
  };
  const auto it = symbols.find(symbol);
  return it == symbols.end() ? QString() : it->second;
}

}  // namespace

QColor DSBadge::colour(Tone tone) {
  switch (tone) {
    case Tone::success:
      return QColor(0x1f, 0x8f, 0x4a);
    case Tone::warning:
      return QColor(0xc2, 0x6a, 0x00);
    case Tone::danger:
      return QColor(0xc0, 0x2b, 0x2b);
    case Tone::neutral:
      return QColor(0x6b, 0x6b, 0x70);
  }
  return Qt::gray;
}

DSBadge::DSBadge(const QString& text, Tone tone, bool showsDot, QWidget* parent)
    : QLabel(showsDot ? QString::fromUtf8("\u25CF ") + text : text, parent), tone_(tone) {
  const QColor c = colour(tone);
  setStyleSheet(QString("QLabel { color: %1; background: %2; border-radius: 9px; padding: 2px 8px; font-weight: 600; }")
                    .arg(c.name(), QColor(c.red(), c.green(), c.blue(), 36).name(QColor::HexArgb)));
}

DSIconWell::DSIconWell(const QString& symbol, const QColor& tint, QWidget* parent)
    : QWidget(parent), symbol_(symbol), tint_(tint) {
  setFixedSize(28, 28);
}

void DSIconWell::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(tint_.red(), tint_.green(), tint_.blue(), 40));
  painter.drawRoundedRect(QRectF(rect()), 7, 7);
  if (symbol_ == "iphone") {
    // A phone: a tall rounded outline with a bar at its foot.
    painter.setPen(QPen(tint_, 1.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(9.5, 5.5, 9, 17), 2.5, 2.5);
    painter.drawLine(QPointF(12.5, 19.5), QPointF(15.5, 19.5));
    return;
  }
  QFont font = painter.font();
  font.setPixelSize(15);
  painter.setFont(font);
  painter.setPen(tint_);
  painter.drawText(rect(), Qt::AlignCenter, symbolText(symbol_));
}

DSRow::DSRow(const QString& symbol, const QString& title, const QString& subtitle, const QColor& tint,
             QWidget* accessory, QWidget* parent)
    : QWidget(parent), title_(new QLabel(title)), subtitle_(new QLabel(subtitle)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 2, 0, 2);
  row->setSpacing(10);
  if (!symbol.isEmpty()) row->addWidget(new DSIconWell(symbol, tint), 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(1);
  title_->setWordWrap(true);
  title_->setStyleSheet("font-weight: 600;");
  texts->addWidget(title_);
  subtitle_->setWordWrap(true);
  subtitle_->setStyleSheet("color: #6e6e73;");
  subtitle_->setVisible(!subtitle.isEmpty());
  texts->addWidget(subtitle_);
  row->addLayout(texts, 1);
  if (accessory) row->addWidget(accessory, 0, Qt::AlignVCenter);
}

QLabel* sectionTitle(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setStyleSheet("font-weight: 700; color: #6e6e73; margin: 6px 0 0 0; padding: 0;");
  label->setIndent(0);
  return label;
}

void clearLayout(QLayout& layout) {
  while (QLayoutItem* item = layout.takeAt(0)) {
    if (QWidget* widget = item->widget()) {
      widget->hide();
      widget->setParent(nullptr);
      widget->deleteLater();
    } else if (QLayout* inner = item->layout()) {
      clearLayout(*inner);
    }
    delete item;
  }
}

void fitAddedWidgets(QWidget& window) {
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (!child->isWindow() && child->isHidden() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide)) {
      child->show();
    }
  }
  window.adjustSize();
}

QLabel* wrappedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

}  // namespace glidemate::host
