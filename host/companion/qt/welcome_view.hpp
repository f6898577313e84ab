#pragma once

#include <QVBoxLayout>
#include <QWidget>

#include "host/companion/host_snapshot.hpp"
#include "host/companion/qt/companion_actions.hpp"
#include "host/companion/qt/setup_rows.hpp"

namespace glidemate::host {

// The first thing a new user sees: what Glidemate does, the three steps to
// set it up, and where it lives afterwards.
class WelcomeView final : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* title = "Welcome to Glidemate";

  WelcomeView(CompanionActions actions, std::function<void()> onDone, QWidget* parent = nullptr);
  void setSnapshot(const HostSnapshot& snapshot);

 private:
  CompanionActions actions_;
  QVBoxLayout* input_;
  LoginItemToggle* login_;
  std::optional<HostSnapshot::Permission> shownInput_;
};

}  // namespace glidemate::host
