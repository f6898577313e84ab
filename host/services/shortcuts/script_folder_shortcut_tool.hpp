#pragma once

#include <asio/any_io_executor.hpp>
#include <filesystem>

#include "host/services/shortcuts/shortcut_tool.hpp"

namespace glidemate::host {

// The user's shortcuts on Linux: the executable files of one folder
// ($XDG_CONFIG_HOME/glidemate/shortcuts). "list" names them, in the order
// people read names; "run NAME" runs that file with no arguments. Hidden
// files are not shortcuts, and a name that could reach outside the folder
// (a slash, a leading dot) is refused like a missing one, with a message.
class ScriptFolderShortcutTool final : public ShortcutTool {
 public:
  ScriptFolderShortcutTool(asio::any_io_executor executor, std::filesystem::path folder,
                           Subprocess::Limits limits = {});

  asio::awaitable<Result> run(std::vector<std::string> arguments) override;

  const std::filesystem::path& folder() const { return folder_; }

 private:
  Result list() const;

  asio::any_io_executor executor_;
  std::filesystem::path folder_;
  Subprocess::Limits limits_;
};

}  // namespace glidemate::host
