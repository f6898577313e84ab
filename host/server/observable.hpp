#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace glidemate::host {

// A value the user interface follows. Observers hear of real changes only:
// setting an equal value notifies nobody. Used only from the main executor.
template <class T>
class Observable {
 public:
  using Observer = std::function<void(const T&)>;

  // Ends its observation when destroyed.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(std::weak_ptr<std::map<int, Observer>> observers, int id)
        : observers_(std::move(observers)), id_(id) {}
    Subscription(Subscription&&) noexcept = default;
    Subscription& operator=(Subscription&& other) noexcept {
      cancel();
      observers_ = std::move(other.observers_);
      id_ = other.id_;
      return *this;
    }
    ~Subscription() { cancel(); }

   private:
    void cancel() {
      if (auto o = observers_.lock()) o->erase(id_);
      observers_.reset();
    }
    std::weak_ptr<std::map<int, Observer>> observers_;
    int id_ = 0;
  };

  Observable() = default;
  explicit Observable(T initial) : value_(std::move(initial)) {}

  const T& get() const { return value_; }
  const T* operator->() const { return &value_; }
  const T& operator*() const { return value_; }

  void set(T value) {
    if (value == value_) return;
    value_ = std::move(value);
    // Observers may subscribe or unsubscribe while being told.
    const auto snapshot = *observers_;
    for (const auto& [id, observer] : snapshot) observer(value_);
  }

  [[nodiscard]] Subscription observe(Observer observer) {
    const int id = nextId_++;
    observers_->emplace(id, std::move(observer));
    return Subscription(observers_, id);
  }

 private:
  T value_{};
  std::shared_ptr<std::map<int, Observer>> observers_ = std::make_shared<std::map<int, Observer>>();
  int nextId_ = 1;
};

}  // namespace glidemate::host
