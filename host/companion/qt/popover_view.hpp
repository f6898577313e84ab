#pragma once

#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/companion/host_snapshot.hpp"
#include "host/companion/qt/companion_actions.hpp"
#include "host/companion/qt/design_components.hpp"

namespace glidemate::host {

// The tray icon's window: the host's status, the pairing code, the phones
// connected and paired with what can be done to them, what still needs
// setting up, and the app's own controls. Shown as a popup next to the
// tray icon, which goes when another window takes the focus or on Escape,
// or as an ordinary window where there is no tray.
class PopoverView final : public QWidget {
  Q_OBJECT

 public:
  enum class Mode { popup, window };
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // How often "Used …" times are brought up to date while shown.
  static constexpr std::chrono::seconds refreshInterval{30};

  PopoverView(CompanionActions actions, Clock clock = std::chrono::system_clock::now, QWidget* parent = nullptr);

  void setSnapshot(std::shared_ptr<const HostSnapshot> snapshot);
  void setMode(Mode mode);
  Mode mode() const { return mode_; }
  // Places the popup next to `anchor` (the tray icon, or the pointer),
  // inside the available area of the screen there.
  void popUpNear(const QRect& anchor);

  static std::pair<QString, DSBadge::Tone> status(const HostSnapshot& snapshot);

 public slots:
  // Rebuilds the content from the last snapshot (relative times move on).
  void refresh();

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void addHeader(const HostSnapshot& s);
  void addBanner(const HostSnapshot& s);
  void addPairing(const HostSnapshot& s);
  void addWarnings(const HostSnapshot& s);
  void addPermissionCard(const HostSnapshot& s);
  void addConnected(const HostSnapshot& s);
  void addPaired(const HostSnapshot& s);
  void addSetup(const HostSnapshot& s);
  void addFooter(const HostSnapshot& s);
  void perform(HostAction::Case action);

  CompanionActions actions_;
  Clock clock_;
  Mode mode_ = Mode::popup;
  QVBoxLayout* content_;
  QTimer refreshTimer_;
  std::shared_ptr<const HostSnapshot> snapshot_;
  // The paired phone whose forgetting is being confirmed.
  std::optional<std::string> confirmingForget_;
};

}  // namespace glidemate::host
