#pragma once

#include <asio/awaitable.hpp>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/services/shortcuts/shortcut_tool.hpp"

namespace glidemate::host {

// Lists and runs the user's shortcuts through their tool. A run that fails
// carries the tool's own error text, so the phone can show it.
class ShortcutsService {
 public:
  class Failure : public std::runtime_error {
   public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
  };

  // The tool failed without saying why.
  static constexpr const char* didNotFinish = "That shortcut didn't finish.";
  // The tool ran past its time-out and was stopped.
  static constexpr const char* tookTooLong = "That shortcut took too long and was stopped.";
  // The most of the tool's error text a phone is sent, in UTF-8 bytes: a
  // sentence, not a log (and within one record).
  static constexpr std::size_t maxMessageBytes = 1000;

  explicit ShortcutsService(std::unique_ptr<ShortcutTool> tool) : tool_(std::move(tool)) {}

  // The shortcuts' names, trimmed, without blank lines; empty when the
  // tool fails.
  asio::awaitable<std::vector<std::string>> list();
  // Throws Failure, or std::system_error when the tool can't be started.
  asio::awaitable<void> run(const std::string& name);

 private:
  // The tool's standard output; Failure when it exits with an error.
  asio::awaitable<std::string> runTool(std::vector<std::string> arguments);

  std::unique_ptr<ShortcutTool> tool_;
};

}  // namespace glidemate::host
