#include "host/services/clipboard/wlroots/wlroots_clipboard_service.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

#include <array>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <cstring>
#include <list>
#include <map>
#include <vector>

#include "host/wlroots/wayland_connection.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/wire/utf8.hpp"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace glidemate::host {
namespace {

// What we offer, and what we ask for, best first; all carry UTF-8 here.
constexpr std::array<const char*, 5> offeredTypes{"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT",
                                                  "STRING"};
constexpr std::array<const char*, 4> readTypes{"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT"};

}  // namespace

struct WlrootsClipboardService::State : std::enable_shared_from_this<State> {
  // Our text going to one reader.
  struct Transfer {
    asio::posix::stream_descriptor pipe;
    asio::steady_timer deadline;
  };

  State(const asio::any_io_executor& e, Options o) : executor(e), options(std::move(o)), changed(e) {}
  ~State() { drop(); }

  asio::any_io_executor executor;
  Options options;
  Notifier changed;

  std::unique_ptr<WaylandConnection> wayland;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  zwlr_data_control_manager_v1* manager = nullptr;
  zwlr_data_control_device_v1* device = nullptr;
  bool connecting = false;
  // Offers introduced by the compositor, with their types; `selection` is
  // the clipboard's.
  std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers;
  zwlr_data_control_offer_v1* selection = nullptr;
  // Ours, while the clipboard holds it.
  zwlr_data_control_source_v1* source = nullptr;
  std::shared_ptr<const std::string> owned;
  std::list<std::shared_ptr<Transfer>> transfers;

  void drop() {
    for (const auto& transfer : transfers) transfer->pipe.cancel();
    transfers.clear();
    for (const auto& [offer, types] : offers) zwlr_data_control_offer_v1_destroy(offer);
    offers.clear();
    selection = nullptr;
    if (source != nullptr) zwlr_data_control_source_v1_destroy(source);
    source = nullptr;
    owned.reset();
    if (device != nullptr) zwlr_data_control_device_v1_destroy(device);
    if (manager != nullptr) zwlr_data_control_manager_v1_destroy(manager);
    if (seat != nullptr) wl_seat_destroy(seat);
    if (registry != nullptr) wl_registry_destroy(registry);
    device = nullptr;
    manager = nullptr;
    seat = nullptr;
    registry = nullptr;
    wayland.reset();
    changed.notifyAll();
  }

  // Whether the compositor answered everything sent so far in time.
  asio::awaitable<bool> roundtrip() {
    auto answered = std::make_shared<bool>(false);
    auto expired = std::make_shared<bool>(false);
    const auto weak = weak_from_this();
    wayland->roundtrip([weak, answered] {
      *answered = true;
      if (auto self = weak.lock()) self->changed.notifyAll();
    });
    asio::steady_timer timer(executor, options.replyTimeout);
    timer.async_wait([weak, expired](const asio::error_code& error) {
      if (error) return;
      *expired = true;
      if (auto self = weak.lock()) self->changed.notifyAll();
    });
    const WaylandConnection* asked = wayland.get();
    while (!*answered && !*expired && wayland.get() == asked) co_await changed.wait();
    co_return *answered;
  }

  // Connects and learns the clipboard, unless that is done.
  asio::awaitable<bool> ready() {
    while (connecting) co_await changed.wait();
    if (device != nullptr) co_return true;
    connecting = true;
    struct Done {
      State& s;
      ~Done() {
        s.connecting = false;
        s.changed.notifyAll();
      }
    } done{*this};
    wayland = WaylandConnection::open(executor, options.display, [weak = weak_from_this()](const std::string&) {
      if (auto self = weak.lock()) self->drop();
    });
    if (!wayland) co_return false;
    registry = wl_display_get_registry(wayland->display());
    wl_registry_add_listener(registry, &registryListener, this);
    if (!co_await roundtrip() || seat == nullptr || manager == nullptr) {
      drop();
      co_return false;
    }
    device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
    zwlr_data_control_device_v1_add_listener(device, &deviceListener, this);
    // The device is told the clipboard as it is made.
    if (!co_await roundtrip()) {
      drop();
      co_return false;
    }
    co_return device != nullptr;
  }

  void serve(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto transfer = std::make_shared<Transfer>(
        Transfer{asio::posix::stream_descriptor(executor, fd), asio::steady_timer(executor, options.replyTimeout)});
    transfers.push_back(transfer);
    // A reader that stops reading is given up on.
    transfer->deadline.async_wait([weak = std::weak_ptr<Transfer>(transfer)](const asio::error_code& error) {
      if (auto t = weak.lock(); t && !error) t->pipe.cancel();
    });
    asio::async_write(transfer->pipe, asio::buffer(*owned),
                      [weak = weak_from_this(), transfer, text = owned](const asio::error_code&, std::size_t) {
                        if (auto self = weak.lock()) self->transfers.remove(transfer);
                      });
  }

  void global(std::uint32_t name, const char* interface, std::uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr) {
      seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
      manager = static_cast<zwlr_data_control_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    }
  }

  void newSelection(zwlr_data_control_offer_v1* offer) {
    if (selection != nullptr && selection != offer) {
      zwlr_data_control_offer_v1_destroy(selection);
      offers.erase(selection);
    }
    selection = offer;
    changed.notifyAll();
  }

  static const wl_registry_listener registryListener;
  static const zwlr_data_control_device_v1_listener deviceListener;
  static const zwlr_data_control_offer_v1_listener offerListener;
  static const zwlr_data_control_source_v1_listener sourceListener;
};

const wl_registry_listener WlrootsClipboardService::State::registryListener{
    [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
      static_cast<State*>(data)->global(name, interface, version);
    },
    [](void*, wl_registry*, std::uint32_t) {},
};

const zwlr_data_control_device_v1_listener WlrootsClipboardService::State::deviceListener{
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
      auto& self = *static_cast<State*>(data);
      self.offers[offer];
      zwlr_data_control_offer_v1_add_listener(offer, &offerListener, &self);
    },
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
      static_cast<State*>(data)->newSelection(offer);
    },
    [](void* data, zwlr_data_control_device_v1*) {
      // The seat is gone: a new device is made at the next use.
      auto& self = *static_cast<State*>(data);
      zwlr_data_control_device_v1_destroy(self.device);
      self.device = nullptr;
    },
    // The primary selection (middle-click paste) is not the clipboard;
    // its offers are let go.
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
      auto& self = *static_cast<State*>(data);
      if (offer == nullptr) return;
      zwlr_data_control_offer_v1_destroy(offer);
      self.offers.erase(offer);
    },
};

const zwlr_data_control_offer_v1_listener WlrootsClipboardService::State::offerListener{
    [](void* data, zwlr_data_control_offer_v1* offer, const char* type) {
      static_cast<State*>(data)->offers[offer].emplace_back(type);
    },
};

const zwlr_data_control_source_v1_listener WlrootsClipboardService::State::sourceListener{
    [](void* data, zwlr_data_control_source_v1* source, const char*, std::int32_t fd) {
      auto& self = *static_cast<State*>(data);
      if (source != self.source || !self.owned) {
        close(fd);
        return;
      }
      self.serve(fd);
    },
    [](void* data, zwlr_data_control_source_v1* source) {
      // Another client took the clipboard.
      auto& self = *static_cast<State*>(data);
      zwlr_data_control_source_v1_destroy(source);
      if (source == self.source) {
        self.source = nullptr;
        self.owned.reset();
      }
    },
};

WlrootsClipboardService::WlrootsClipboardService(const asio::any_io_executor& executor, Options options)
    : state_(std::make_shared<State>(executor, std::move(options))) {}

WlrootsClipboardService::~WlrootsClipboardService() = default;

asio::awaitable<void> WlrootsClipboardService::setText(std::string text) {
  const auto s = state_;
  if (!co_await s->ready()) throw Failure("the Wayland compositor offers no clipboard to set (data control)");
  if (s->source != nullptr) zwlr_data_control_source_v1_destroy(s->source);
  s->source = zwlr_data_control_manager_v1_create_data_source(s->manager);
  zwlr_data_control_source_v1_add_listener(s->source, &State::sourceListener, s.get());
  for (const char* type : offeredTypes) zwlr_data_control_source_v1_offer(s->source, type);
  s->owned = std::make_shared<const std::string>(std::move(text));
  zwlr_data_control_device_v1_set_selection(s->device, s->source);
  s->wayland->flush();
}

asio::awaitable<std::optional<std::string>> WlrootsClipboardService::text() {
  const auto s = state_;
  if (!co_await s->ready()) co_return std::nullopt;
  // The clipboard as the compositor has it now.
  if (!co_await s->roundtrip()) co_return std::nullopt;
  if (s->source != nullptr && s->owned) co_return *s->owned;
  if (s->selection == nullptr) co_return std::nullopt;
  const auto& types = s->offers[s->selection];
  const char* chosen = nullptr;
  for (const char* type : readTypes) {
    if (chosen == nullptr && std::find(types.begin(), types.end(), type) != types.end()) chosen = type;
  }
  if (chosen == nullptr) co_return std::nullopt;

  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) co_return std::nullopt;
  // libwayland sends a duplicate of the write end.
  zwlr_data_control_offer_v1_receive(s->selection, chosen, fds[1]);
  close(fds[1]);
  s->wayland->flush();
  asio::posix::stream_descriptor pipe(s->executor, fds[0]);
  asio::steady_timer deadline(s->executor, s->options.replyTimeout);
  deadline.async_wait([&pipe](const asio::error_code& error) {
    if (!error) pipe.cancel();
  });
  std::string data;
  std::array<char, 65536> chunk;
  for (;;) {
    asio::error_code error;
    const std::size_t n =
        co_await pipe.async_read_some(asio::buffer(chunk), asio::redirect_error(asio::use_awaitable, error));
    data.append(chunk.data(), n);
    if (error == asio::error::eof || data.size() >= s->options.maxReadBytes) break;
    if (error) co_return std::nullopt;  // the owner did not answer in time
  }
  deadline.cancel();
  const std::string valid = validUtf8(data);
  co_return std::string(utf8Prefix(valid, s->options.maxReadBytes));
}

}  // namespace glidemate::host
