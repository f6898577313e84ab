#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <cstddef>
#include <memory>

#include "host/services/clipboard/clipboard_service.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

class MutterRemoteDesktop;

// The desktop's clipboard through the selection calls of GNOME's
// remote-desktop session (mutter 43).
//
// Text from the phone is offered as text/plain;charset=utf-8, text/plain
// and UTF8_STRING (which mutter hands on to X clients), and written to each
// reader through the descriptor mutter gives for it. Another owner's text
// is read through a descriptor mutter gives us, in the first of those types
// the owner offers. Descriptors are written and read on the main executor
// without blocking it, each transfer within a time-out.
//
// The clipboard is enabled on every session the remote desktop makes, so
// it comes back with mutter; the phone's text goes with the session that
// offered it. Without a session nothing is read and setting fails.
class MutterClipboard final : public ClipboardService {
 public:
  struct Options {
    std::chrono::milliseconds callTimeout{5000};
    // How long an owner may take to hand its text over, and a reader to
    // take ours.
    std::chrono::milliseconds transferTimeout{2000};
    // Read texts stop here; a larger one comes back cut to this size.
    std::size_t maxReadBytes = 4 * 1024 * 1024;
  };

  MutterClipboard(const asio::any_io_executor& executor, MutterRemoteDesktop& remoteDesktop, Logger& logger,
                  Options options);
  MutterClipboard(const asio::any_io_executor& executor, MutterRemoteDesktop& remoteDesktop, Logger& logger)
      : MutterClipboard(executor, remoteDesktop, logger, Options{}) {}
  ~MutterClipboard() override;
  MutterClipboard(const MutterClipboard&) = delete;
  MutterClipboard& operator=(const MutterClipboard&) = delete;

  asio::awaitable<void> setText(std::string text) override;
  asio::awaitable<std::optional<std::string>> text() override;

 private:
  struct State;
  std::shared_ptr<State> state_;
  MutterRemoteDesktop& remoteDesktop_;
};

}  // namespace glidemate::host
