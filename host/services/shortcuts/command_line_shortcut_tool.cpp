#include "host/services/shortcuts/command_line_shortcut_tool.hpp"

namespace glidemate::host {

CommandLineShortcutTool::CommandLineShortcutTool(asio::any_io_executor executor, std::string program,
                                                 Subprocess::Limits limits)
    : executor_(std::move(executor)), program_(std::move(program)), limits_(limits) {}

asio::awaitable<ShortcutTool::Result> CommandLineShortcutTool::run(std::vector<std::string> arguments) {
  Subprocess process(executor_, program_, arguments);
  co_return co_await process.finish(limits_);
}

}  // namespace glidemate::host
