#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "host/companion/host_snapshot.hpp"

namespace glidemate::host {

// The code a phone must type: title, six digits, whom they are for, and
// "Not me" to turn the attempt away.
class PairingCodeCard final : public QWidget {
  Q_OBJECT

 public:
  PairingCodeCard(std::function<void()> decline, QWidget* parent = nullptr);
  void setSnapshot(const HostSnapshot& snapshot);

  static QString instruction(const HostSnapshot& snapshot);

 private:
  QLabel* code_;
  QLabel* instruction_;
};

// The floating panel that shows the code while one is active: above other
// windows, on every workspace, never taking the keyboard focus, movable by
// dragging it anywhere.
class PairingPanel final : public QWidget {
  Q_OBJECT

 public:
  // The gap between the panel and the top-right corner of the screen's
  // available area.
  static constexpr int margin = 12;

  explicit PairingPanel(std::function<void()> decline, QWidget* parent = nullptr);
  void setSnapshot(const HostSnapshot& snapshot) { card_->setSnapshot(snapshot); }
  // Top-right corner of the primary screen's available area, if there is
  // a screen.
  void placeAtTopRight();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  PairingCodeCard* card_;
  QPoint dragOffset_;
};

}  // namespace glidemate::host
