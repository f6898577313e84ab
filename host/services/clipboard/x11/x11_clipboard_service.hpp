#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "host/services/clipboard/clipboard_service.hpp"
#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {

// The CLIPBOARD selection of an X server, over the desktop connection.
//
// Setting it makes a hidden window of ours the owner; it answers TARGETS,
// TIMESTAMP, UTF8_STRING, text/plain;charset=utf-8 and STRING (Latin-1,
// other characters as '?') until another client takes the selection.
// Replies too large for one request go in pieces (INCR).
//
// Reading our own selection answers from memory. Reading another owner's
// asks for UTF8_STRING, then STRING, and accepts INCR; each answer the owner
// owes is awaited on the main executor with a time-out.
class X11ClipboardService final : public ClipboardService {
 public:
  struct Options {
    // How long the owner may take over each step of a reply.
    std::chrono::steady_clock::duration replyTimeout = std::chrono::seconds(2);
    // Read texts stop here; a larger one comes back cut to this size.
    std::size_t maxReadBytes = 4 * 1024 * 1024;
    // Replies larger than this go in pieces of this size; zero: as much as
    // one request to the server carries.
    std::size_t incrementalChunkBytes = 0;
  };

  explicit X11ClipboardService(std::shared_ptr<X11DesktopConnection> connection)
      : X11ClipboardService(std::move(connection), Options{}) {}
  X11ClipboardService(std::shared_ptr<X11DesktopConnection> connection, Options options);
  ~X11ClipboardService() override;
  X11ClipboardService(const X11ClipboardService&) = delete;
  X11ClipboardService& operator=(const X11ClipboardService&) = delete;

  asio::awaitable<void> setText(std::string text) override;
  asio::awaitable<std::optional<std::string>> text() override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
