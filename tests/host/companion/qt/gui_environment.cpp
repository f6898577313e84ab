#include "tests/host/companion/qt/gui_environment.hpp"

#include <stdlib.h>
#include <sys/stat.h>

#include <QDir>
#include <QCoreApplication>
#include <QImage>
#include <QTest>
#include <stdexcept>

namespace glidemate::host::testing {

GuiEnvironment::GuiEnvironment(bool withTray) {
  const auto runtime = root() / "runtime";
  std::filesystem::create_directories(runtime);
  ::chmod(runtime.c_str(), 0700);
  for (const char* folder : {"home", "config", "data", "cache"}) std::filesystem::create_directories(root() / folder);
  setenv("DISPLAY", xvfb_.name().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
  // No system bus (no Bluetooth) and no sound server: nothing of the
  // machine's own.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (root() / "no-system-bus").string()).c_str(), 1);
  setenv("PULSE_SERVER", ("unix:" + (root() / "no-pulse").string()).c_str(), 1);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("HOME", (root() / "home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root() / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root() / "data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (root() / "cache").c_str(), 1);
  if (withTray) startTray();
}

void GuiEnvironment::startTray() { watcher_ = std::make_unique<glidemate::testing::StatusNotifierWatcher>(bus_); }

void GuiEnvironment::stopTray() { watcher_.reset(); }

void GuiEnvironment::saveScreenshot(const QImage& image, const QString& name) {
  const QDir dir(GLIDEMATE_SCREENSHOT_DIR);
  QDir().mkpath(dir.path());
  if (!image.save(dir.filePath(name + ".png"))) throw std::runtime_error("cannot write " + name.toStdString());
}


void GuiEnvironment::saveScreenshot(QWidget& window, const QString& name) {
  const auto pending = [&] {
    for (QWidget* child : window.findChildren<QWidget*>()) {
      if (child->isHidden() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide)) return true;
    }
    return false;
  };
  if (!QTest::qWaitFor([&] { return !pending(); }, 60000)) throw std::runtime_error(name.toStdString() + " never settled");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  saveScreenshot(window.grab().toImage(), name);
}

}  // namespace glidemate::host::testing
