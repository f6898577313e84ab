#pragma once

#include <chrono>
#include <memory>

#include "host/services/screen_preview/pipewire/screen_cast_source.hpp"

namespace glidemate {
class DBusConnection;
}

namespace glidemate::host {

// The stream of GNOME's Wayland session: a screen cast of mutter's primary
// monitor of the preview's own (not the input session's, which runs all
// the time at a low rate), made at each start and stopped with its hold.
// It ends when mutter closes the cast or leaves the bus. Main executor
// only.
class MutterScreenCastSource final : public ScreenCastSource {
 public:
  struct Options {
    std::chrono::milliseconds callTimeout{5000};
  };

  MutterScreenCastSource(std::shared_ptr<DBusConnection> sessionBus, Options options);
  explicit MutterScreenCastSource(std::shared_ptr<DBusConnection> sessionBus)
      : MutterScreenCastSource(std::move(sessionBus), Options{}) {}

  asio::awaitable<Stream> open(const std::function<void()>& ended) override;
  std::string description() const override;

 private:
  std::shared_ptr<DBusConnection> connection_;
  Options options_;
};

}  // namespace glidemate::host
