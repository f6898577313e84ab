#include "host/services/screen_preview/gnome/mutter_screen_cast_source.hpp"

#include <asio/this_coro.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "host/gnome/mutter_screen_cast.hpp"
#include "kit/dbus/dbus_connection.hpp"

namespace glidemate::host {
namespace {

// The cast stops when its hold goes.
class CastHold final : public ScreenCastSource::Hold {
 public:
  explicit CastHold(std::unique_ptr<MutterScreenCast> cast) : cast_(std::move(cast)) {}

 private:
  std::unique_ptr<MutterScreenCast> cast_;
};

}  // namespace

MutterScreenCastSource::MutterScreenCastSource(std::shared_ptr<DBusConnection> sessionBus, Options options)
    : connection_(std::move(sessionBus)), options_(options) {}

asio::awaitable<ScreenCastSource::Stream> MutterScreenCastSource::open(const std::function<void()>& ended) {
  const auto executor = co_await asio::this_coro::executor;
  auto cast = std::make_unique<MutterScreenCast>(executor, connection_, MutterScreenCast::Options{options_.callTimeout});
  std::function<void()> onEnded = ended;
  std::optional<std::uint32_t> node;
  std::string failure;
  try {
    node = co_await cast->start();
  } catch (const DBusError& e) {
    failure = e.message();
  }
  if (!node) throw std::runtime_error(failure);
  cast->onEnded(std::move(onEnded));
  co_return Stream{*node, FileDescriptor(-1), std::make_unique<CastHold>(std::move(cast))};
}

std::string MutterScreenCastSource::description() const {
  return "GNOME's primary monitor through a screen cast of mutter";
}

}  // namespace glidemate::host
