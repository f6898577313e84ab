// Test helper: a desktop of the test's own for the app's windows: a private
// X server with a window manager, a private session bus with or without a tray's watcher on it,
// and private XDG folders, set in this process's environment (which child
// processes inherit). Made before the QApplication, which reads the
// environment once.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <memory>

#include "tests/host/companion/temp_folder.hpp"
#include "tests/support/openbox.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/status_notifier_watcher.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host::testing {

class GuiEnvironment {
 public:
  explicit GuiEnvironment(bool withTray);

  void startTray();
  void stopTray();

  const std::string& display() const { return xvfb_.name(); }
  const glidemate::testing::PrivateBus& bus() const { return bus_; }
  // For doubles of the desktop's services, started on the session bus.
  glidemate::testing::PrivateBus& bus() { return bus_; }
  const std::filesystem::path& root() const { return root_.path(); }
  // Writes a PNG where the tests keep their outputs.
  static void saveScreenshot(const QImage& image, const QString& name);
  // The window as drawn once what it was given has been shown and laid
  // out (widgets added to a shown window appear on the next turn of the
  // event loop).
  static void saveScreenshot(QWidget& window, const QString& name);

 private:
  TempFolder root_;
  XvfbDisplay xvfb_;
  Openbox windowManager_{xvfb_.name()};
  glidemate::testing::PrivateBus bus_;
  std::unique_ptr<glidemate::testing::StatusNotifierWatcher> watcher_;
};

}  // namespace glidemate::host::testing
