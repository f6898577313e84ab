#include "host/companion/qt/tray.hpp"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QPalette>

#include "host/companion/qt/menu_bar_icon.hpp"

namespace glidemate::host {

Tray::Tray(QObject* parent)
    : QObject(parent),
      watcher_(watcherService, QDBusConnection::sessionBus(),
               QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration) {
  setStyle(MenuBarIconStyle::idle);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit clicked();
  });
  connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { setAvailable(false); });
  connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
    // A new watcher knows nothing of the icon: show it again, which
    // registers it anew.
    icon_.hide();
    icon_.show();
    setAvailable(true);
  });
}

bool Tray::start() {
  available_ = QSystemTrayIcon::isSystemTrayAvailable();
  if (available_) icon_.show();
  return available_;
}

void Tray::setStyle(MenuBarIconStyle style) {
  style_ = style;
  // No tray recolours an icon for its theme: take the text colour, which
  // suits the panels that follow the same theme.
  icon_.setIcon(MenuBarIcon::icon(style, QGuiApplication::palette().color(QPalette::WindowText)));
  icon_.setToolTip(accessibilityDescription(style));
}

void Tray::setAvailable(bool available) {
  if (available == available_) return;
  available_ = available;
  emit availabilityChanged(available);
}

}  // namespace glidemate::host
