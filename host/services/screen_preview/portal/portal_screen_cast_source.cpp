#include "host/services/screen_preview/portal/portal_screen_cast_source.hpp"

#include "host/portal/portal_remote_desktop.hpp"

namespace glidemate::host {
namespace {

// Watching the session ends with the hold; the session itself goes on.
class SessionHold final : public ScreenCastSource::Hold {
 public:
  explicit SessionHold(std::unique_ptr<PortalRemoteDesktop::SessionWatch> watch) : watch_(std::move(watch)) {}

 private:
  std::unique_ptr<PortalRemoteDesktop::SessionWatch> watch_;
};

}  // namespace

asio::awaitable<ScreenCastSource::Stream> PortalScreenCastSource::open(const std::function<void()>& ended) {
  auto remote = co_await session_.openScreenCastRemote(ended);
  co_return Stream{remote.node, std::move(remote.remote), std::make_unique<SessionHold>(std::move(remote.watch))};
}

std::string PortalScreenCastSource::description() const {
  return "the monitor the desktop portal's session shares";
}

}  // namespace glidemate::host
