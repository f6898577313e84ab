#pragma once

#include <QColor>
#include <QLabel>
#include <QLayout>
#include <QString>
#include <QWidget>

namespace glidemate::host {

// A small rounded label that states a status in a tone.
class DSBadge final : public QLabel {
  Q_OBJECT

 public:
  enum class Tone { success, warning, danger, neutral };

  DSBadge(const QString& text, Tone tone, bool showsDot, QWidget* parent = nullptr);
  Tone tone() const { return tone_; }
  static QColor colour(Tone tone);

 private:
  Tone tone_;
};

// A symbol in a tinted rounded square.
class DSIconWell final : public QWidget {
  Q_OBJECT

 public:
  // `symbol` names the picture ("iphone", "pause.fill",
  // "exclamationmark.triangle.fill", "hand.raised.fill", ...).
  DSIconWell(const QString& symbol, const QColor& tint, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString symbol_;
  QColor tint_;
};

// One line of a list: an optional symbol, a title, an optional subtitle
// and a trailing accessory (a button, a badge, a switch), if any.
class DSRow final : public QWidget {
  Q_OBJECT

 public:
  DSRow(const QString& symbol, const QString& title, const QString& subtitle, const QColor& tint,
        QWidget* accessory = nullptr, QWidget* parent = nullptr);

  QLabel* titleLabel() const { return title_; }
  QLabel* subtitleLabel() const { return subtitle_; }

 private:
  QLabel* title_;
  QLabel* subtitle_;
};

// A section's heading in a list.
QLabel* sectionTitle(const QString& text, QWidget* parent = nullptr);
// A label that wraps its text.
QLabel* wrappedLabel(const QString& text, QWidget* parent = nullptr);
// Empties a layout that is rebuilt on every change. Its widgets go once
// control returns to the event loop: one of them may be the button whose
// click asked for the change.
void clearLayout(QLayout& layout);
// Shows the widgets just added to a shown window's layout now, rather than
// on the next turn of the event loop, and sizes the window for them:
// wrapped text gets the height it asks for.
void fitAddedWidgets(QWidget& window);

}  // namespace glidemate::host
