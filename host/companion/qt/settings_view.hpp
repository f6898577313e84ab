#pragma once

#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <array>
#include <optional>

#include "host/companion/host_snapshot.hpp"
#include "host/companion/qt/companion_actions.hpp"

namespace glidemate::host {

// The settings window's content: "General" (the welcome window again, the
// product and its version, the README, privacy) and "Permissions" (what
// the desktop lets Glidemate do, and why not).
class SettingsView final : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* title = "Glidemate Companion Settings";

  SettingsView(CompanionActions actions, QWidget* parent = nullptr);
  void setSnapshot(const HostSnapshot& snapshot);

 private:
  // What the permission rows show; they are rebuilt only when it changes.
  using Shown = std::array<HostSnapshot::Permission, 3>;

  CompanionActions actions_;
  QVBoxLayout* permissions_;
  // Shown only while something is not allowed.
  QPushButton* recheck_;
  std::optional<Shown> shown_;
};

// One permission as the settings and welcome windows show it: "Allowed",
// or why not.
QWidget* permissionRow(const QString& objectName, const QString& title, const HostSnapshot::Permission& permission);

}  // namespace glidemate::host
