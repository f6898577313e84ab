#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QWidget>

#include "host/companion/host_snapshot.hpp"
#include "host/companion/qt/companion_actions.hpp"

namespace glidemate::host {

// Starting at login, as a switch, with the reason the last change failed.
class LoginItemToggle final : public QWidget {
  Q_OBJECT

 public:
  LoginItemToggle(const QString& title, CompanionActions actions, QWidget* parent = nullptr);
  void setSnapshot(const HostSnapshot& snapshot);

 private:
  QCheckBox* box_;
  QLabel* problem_;
};

// What the user may still have to set up: the screen preview, Bluetooth,
// starting at login.
class SetupRows final : public QWidget {
  Q_OBJECT

 public:
  SetupRows(const HostSnapshot& snapshot, CompanionActions actions, QWidget* parent = nullptr);

  // True while some item still needs the user.
  static bool needsUser(const HostSnapshot& snapshot);
  static QString bluetoothText(HostSnapshot::Bluetooth state);
};

}  // namespace glidemate::host
