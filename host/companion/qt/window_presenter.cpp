#include "host/companion/qt/window_presenter.hpp"

#include <QCloseEvent>

namespace glidemate::host {

WindowPresenter::~WindowPresenter() {
  // No on-close actions: the app is going, not the user closing a window.
  auto open = std::move(windows_);
  windows_.clear();
  for (auto& [key, entry] : open) delete entry.window.data();
}

void WindowPresenter::registerWindow(QWidget* window, const QString& key, OnClose onClose) {
  forget(key);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->installEventFilter(this);
  windows_[key] = Entry{window, window, std::move(onClose)};
  // A window deleted without closing must not linger in the registry.
  connect(window, &QObject::destroyed, this, [this](QObject* gone) {
    std::erase_if(windows_, [gone](const auto& entry) { return entry.second.object == gone; });
  });
}

void WindowPresenter::close(const QString& key) {
  if (QWidget* w = window(key)) w->close();
}

QWidget* WindowPresenter::window(const QString& key) const {
  const auto it = windows_.find(key);
  return it == windows_.end() ? nullptr : it->second.window.data();
}

bool WindowPresenter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Close) return false;
  for (auto it = windows_.begin(); it != windows_.end(); ++it) {
    if (it->second.object != watched) continue;
    const QString key = it->first;
    // Run it before the entry goes: it may look the window up.
    if (auto onClose = it->second.onClose) onClose();
    forget(key);
    break;
  }
  return false;
}

void WindowPresenter::forget(const QString& key) {
  const auto it = windows_.find(key);
  if (it == windows_.end()) return;
  if (it->second.window) it->second.window->removeEventFilter(this);
  windows_.erase(it);
}

}  // namespace glidemate::host
