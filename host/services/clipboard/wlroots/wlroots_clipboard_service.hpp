#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "host/services/clipboard/clipboard_service.hpp"

namespace glidemate::host {

// The clipboard of a wlroots compositor (sway and its kin) through its
// data-control protocol (zwlr_data_control_manager_v1), on a Wayland
// connection of its own, made at first use and made again after the
// compositor has gone away.
//
// Setting offers the text as text/plain;charset=utf-8, text/plain,
// UTF8_STRING, TEXT and STRING, and serves it to whoever pastes until
// another client takes the clipboard. Reading our own text answers from
// memory; another owner's is asked for as UTF-8 through a pipe read on the
// main executor, within a time-out.
class WlrootsClipboardService final : public ClipboardService {
 public:
  struct Options {
    // WAYLAND_DISPLAY's name or a path; empty: the environment's.
    std::string display;
    // How long the compositor or the owner may take over each answer.
    std::chrono::steady_clock::duration replyTimeout = std::chrono::seconds(2);
    // Read texts stop here; a larger one comes back cut to this size.
    std::size_t maxReadBytes = 4 * 1024 * 1024;
  };

  WlrootsClipboardService(const asio::any_io_executor& executor, Options options);
  ~WlrootsClipboardService() override;
  WlrootsClipboardService(const WlrootsClipboardService&) = delete;
  WlrootsClipboardService& operator=(const WlrootsClipboardService&) = delete;

  asio::awaitable<void> setText(std::string text) override;
  asio::awaitable<std::optional<std::string>> text() override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
