#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>

namespace glidemate::host {

// The app's auxiliary windows by key ("welcome", "settings", "pairing"): at
// most one window per key. When a registered window closes, its on-close
// action runs first, then it leaves the registry, so the next request
// makes a fresh one. Windows are deleted once closed, and those still open
// go with the presenter.
class WindowPresenter final : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* welcome = "welcome";
  static constexpr const char* settings = "settings";
  static constexpr const char* pairing = "pairing";

  using OnClose = std::function<void()>;

  WindowPresenter() = default;
  ~WindowPresenter() override;

  // Replaces any window registered under the key (that one stays open).
  void registerWindow(QWidget* window, const QString& key, OnClose onClose = {});
  // Closes the window registered under the key, if any.
  void close(const QString& key);
  // The window registered under the key, or null.
  QWidget* window(const QString& key) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry {
    QPointer<QWidget> window;
    const QObject* object;  // for telling it apart once deleted
    OnClose onClose;
  };
  void forget(const QString& key);

  std::map<QString, Entry> windows_;
};

}  // namespace glidemate::host
