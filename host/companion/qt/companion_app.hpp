#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string>

#include "host/companion/host_runtime.hpp"
#include "host/companion/qt/popover_view.hpp"
#include "host/companion/qt/tray.hpp"
#include "host/companion/qt/window_presenter.hpp"

namespace glidemate::host {

// The desktop app: owns the host (on its own thread) for its whole life,
// the tray icon and its popover, and the auxiliary windows. Everything it
// knows of the host comes in snapshots; everything it asks goes out as
// actions.
class CompanionApp final : public QObject {
  Q_OBJECT

 public:
  explicit CompanionApp(HostRuntime::Options options, PopoverView::Clock clock = std::chrono::system_clock::now);
  ~CompanionApp() override;

  // Starts the host and shows what there is to show. False, after saying
  // why in a window and on stderr, when the host cannot start.
  bool start();

  void showSettings();
  void showWelcome();
  // The popover, next to the tray icon (or the pointer).
  void openPopover();

  WindowPresenter& windows() { return windows_; }
  PopoverView& popover() { return *popover_; }
  Tray& tray() { return tray_; }
  const HostSnapshot* snapshot() const { return snapshot_.get(); }

 signals:
  void snapshotChanged();
  // "Quit", or closing the app's only window.
  void quitRequested();

 private:
  void receive(std::shared_ptr<const HostSnapshot> snapshot);
  void perform(HostAction action);
  void showPairingPanel();
  void trayChanged(bool available);
  CompanionActions actions();

  HostRuntime::Options options_;
  Tray tray_;
  WindowPresenter windows_;
  std::unique_ptr<PopoverView> popover_;
  std::shared_ptr<const HostSnapshot> snapshot_;
  // The code the panel was last opened for: the panel follows changes of
  // the code, so one the user closed stays closed until the code changes.
  std::optional<std::string> lastCode_;
  bool welcomeChecked_ = false;
  // Last, so that the host stops (and sends nothing more) before the rest
  // goes.
  std::unique_ptr<HostRuntime> runtime_;
};

}  // namespace glidemate::host
