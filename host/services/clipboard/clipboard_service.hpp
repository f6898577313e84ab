#pragma once

#include <asio/awaitable.hpp>
#include <optional>
#include <stdexcept>
#include <string>

namespace glidemate::host {

// The desktop's clipboard as plain text, for the phone's setClipboard and
// getClipboard. The limits on what a phone may send or receive belong to
// the command dispatcher; this only moves text. Main executor; neither
// operation blocks it, whoever else owns the clipboard.
class ClipboardService {
 public:
  // The clipboard would not take the text.
  class Failure : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  virtual ~ClipboardService() = default;

  // Replaces the clipboard's contents with `text`, as plain text. Throws
  // Failure.
  virtual asio::awaitable<void> setText(std::string text) = 0;
  // The clipboard's plain text as well-formed UTF-8, or nothing when it
  // holds none or its owner does not answer in time.
  virtual asio::awaitable<std::optional<std::string>> text() = 0;
};

}  // namespace glidemate::host
