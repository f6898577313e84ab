#pragma once

#include <QDBusServiceWatcher>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>

#include "host/companion/menu_bar_icon_style.hpp"

namespace glidemate::host {

// The app's icon in the desktop's tray: a StatusNotifierItem where a
// StatusNotifierWatcher runs on the session bus, else an XEmbed icon where
// a tray manager is on the X display. It tells when a tray comes or goes,
// and puts the icon back when the watcher returns.
class Tray final : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";

  explicit Tray(QObject* parent = nullptr);

  // Shows the icon when a tray is there; false when there is none.
  bool start();
  bool isAvailable() const { return available_; }
  void setStyle(MenuBarIconStyle style);
  MenuBarIconStyle style() const { return style_; }
  // Where the icon is on screen, when the tray says (XEmbed only).
  QRect geometry() const { return icon_.geometry(); }

 signals:
  void clicked();
  void availabilityChanged(bool available);

 private:
  void setAvailable(bool available);

  QSystemTrayIcon icon_;
  QDBusServiceWatcher watcher_;
  MenuBarIconStyle style_ = MenuBarIconStyle::idle;
  bool available_ = false;
};

}  // namespace glidemate::host
