#include "host/wlroots/wayland_connection.hpp"

#include <wayland-client.h>

#include <asio/post.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace glidemate::host {

struct WaylandConnection::State : std::enable_shared_from_this<State> {
  State(const asio::any_io_executor& e, wl_display* d, Lost l)
      : executor(e), connection(d), socket(e, wl_display_get_fd(d)), lost(std::move(l)) {}

  ~State() {
    // The descriptor belongs to libwayland.
    socket.release();
    for (const auto& [callback, then] : roundtrips) wl_callback_destroy(callback);
    wl_display_flush(connection);
    wl_display_disconnect(connection);
  }

  asio::any_io_executor executor;
  wl_display* connection;
  asio::posix::stream_descriptor socket;
  Lost lost;
  bool broken = false;
  bool writeWaiting = false;
  std::map<wl_callback*, std::function<void()>> roundtrips;
  std::function<void()> drained;

  void waitReadable() {
    socket.async_wait(asio::posix::stream_descriptor::wait_read, [weak = weak_from_this()](const asio::error_code& e) {
      if (e) return;
      if (auto self = weak.lock()) self->readEvents();
    });
  }

  void readEvents() {
    if (broken) return;
    while (wl_display_prepare_read(connection) != 0) {
      if (wl_display_dispatch_pending(connection) < 0) return fail();
    }
    if (wl_display_read_events(connection) < 0 || wl_display_dispatch_pending(connection) < 0) return fail();
    flush();
    if (!broken) waitReadable();
  }

  void flush() {
    if (broken || writeWaiting) return;
    if (wl_display_flush(connection) >= 0) return;
    // A request that found libwayland's buffer full broke the connection
    // for good, and flushing then reports EAGAIN for ever.
    if (errno != EAGAIN || wl_display_get_error(connection) != 0) return fail();
    writeWaiting = true;
    socket.async_wait(asio::posix::stream_descriptor::wait_write, [weak = weak_from_this()](const asio::error_code& e) {
      if (e) return;
      if (auto self = weak.lock()) {
        self->writeWaiting = false;
        self->flush();
        if (!self->writeWaiting && !self->broken && self->drained) self->drained();
      }
    });
  }

  void fail() {
    if (broken) return;
    broken = true;
    const int error = wl_display_get_error(connection);
    const std::string why = error == EPIPE || error == ECONNRESET || error == 0
                                ? "went away"
                                : std::string("broke the connection (") + std::strerror(error) + ")";
    // Told from the executor, so that the owner may end the connection
    // then whatever called this.
    asio::post(executor, [weak = weak_from_this(), why] {
      if (auto self = weak.lock(); self && self->lost) self->lost(why);
    });
  }

  static const wl_callback_listener roundtripListener;
};

const wl_callback_listener WaylandConnection::State::roundtripListener{
    [](void* data, wl_callback* callback, std::uint32_t) {
      auto& self = *static_cast<State*>(data);
      const auto found = self.roundtrips.find(callback);
      auto then = std::move(found->second);
      self.roundtrips.erase(found);
      wl_callback_destroy(callback);
      asio::post(self.executor, [weak = self.weak_from_this(), then = std::move(then)] {
        if (auto s = weak.lock(); s && !s->broken) then();
      });
    },
};

std::unique_ptr<WaylandConnection> WaylandConnection::open(const asio::any_io_executor& executor,
                                                           const std::string& display, Lost lost) {
  wl_display* connection = wl_display_connect(waylandDisplayName(display).c_str());
  if (connection == nullptr) return nullptr;
  auto state = std::make_shared<State>(executor, connection, std::move(lost));
  state->waitReadable();
  return std::unique_ptr<WaylandConnection>(new WaylandConnection(std::move(state)));
}

WaylandConnection::WaylandConnection(std::shared_ptr<State> state) : state_(std::move(state)) {}

WaylandConnection::~WaylandConnection() = default;

wl_display* WaylandConnection::display() const { return state_->connection; }

void WaylandConnection::flush() { state_->flush(); }

bool WaylandConnection::congested() const { return state_->writeWaiting; }

void WaylandConnection::onDrained(std::function<void()> drained) { state_->drained = std::move(drained); }

void WaylandConnection::roundtrip(std::function<void()> then) {
  wl_callback* callback = wl_display_sync(state_->connection);
  state_->roundtrips.emplace(callback, std::move(then));
  wl_callback_add_listener(callback, &State::roundtripListener, state_.get());
  state_->flush();
}

std::string waylandDisplayName(const std::string& configured) {
  if (!configured.empty()) return configured;
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0' ? name : "wayland-0";
}

}  // namespace glidemate::host
