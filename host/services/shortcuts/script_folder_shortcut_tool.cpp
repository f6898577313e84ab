#include "host/services/shortcuts/script_folder_shortcut_tool.hpp"

#include <unistd.h>

#include <algorithm>

#include "host/services/name_order.hpp"

namespace glidemate::host {
namespace {

ShortcutTool::Result refusal(std::string message) { return {1, {}, std::move(message) + "\n"}; }

bool isShortcutName(const std::string& name) {
  return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
         name.find('\n') == std::string::npos && name.find('\0') == std::string::npos;
}

bool isRunnable(const std::filesystem::path& file) {
  std::error_code error;
  return std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), X_OK) == 0;
}

}  // namespace

ScriptFolderShortcutTool::ScriptFolderShortcutTool(asio::any_io_executor executor, std::filesystem::path folder,
                                                   Subprocess::Limits limits)
    : executor_(std::move(executor)), folder_(std::move(folder)), limits_(limits) {}

ShortcutTool::Result ScriptFolderShortcutTool::list() const {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (isShortcutName(name) && isRunnable(it->path())) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NameOrder());
  Result result;
  for (const auto& name : names) result.standardOutput += name + "\n";
  return result;
}

asio::awaitable<ShortcutTool::Result> ScriptFolderShortcutTool::run(std::vector<std::string> arguments) {
  if (arguments.size() == 1 && arguments[0] == "list") co_return list();
  if (arguments.size() != 2 || arguments[0] != "run") co_return refusal("Usage: list | run NAME");

  const std::string& name = arguments[1];
  if (!isShortcutName(name)) co_return refusal("“" + name + "” is not the name of a shortcut.");
  const auto file = folder_ / name;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) co_return refusal("There is no shortcut called “" + name + "”.");
  if (!isRunnable(file)) {
    co_return refusal("The shortcut “" + name + "” can't run: its file is not an executable program.");
  }
  Subprocess process(executor_, file.string(), {});
  co_return co_await process.finish(limits_);
}

}  // namespace glidemate::host
