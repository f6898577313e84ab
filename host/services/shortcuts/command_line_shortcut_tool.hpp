#pragma once

#include <asio/any_io_executor.hpp>

#include "host/services/shortcuts/shortcut_tool.hpp"

namespace glidemate::host {

// A shortcuts program on the command line ("/usr/bin/shortcuts list",
// "/usr/bin/shortcuts run NAME"), run as a child process.
class CommandLineShortcutTool final : public ShortcutTool {
 public:
  static constexpr const char* systemProgram = "/usr/bin/shortcuts";

  CommandLineShortcutTool(asio::any_io_executor executor, std::string program = systemProgram,
                          Subprocess::Limits limits = {});

  asio::awaitable<Result> run(std::vector<std::string> arguments) override;

 private:
  asio::any_io_executor executor_;
  std::string program_;
  Subprocess::Limits limits_;
};

}  // namespace glidemate::host
