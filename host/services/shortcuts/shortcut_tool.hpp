#pragma once

#include <asio/awaitable.hpp>
#include <string>
#include <vector>

#include "host/services/process/subprocess.hpp"

namespace glidemate::host {

// The tool that knows the user's shortcuts, asked the way its command line
// is: ["list"] prints one name a line; ["run", NAME] runs one. Its answer
// is what a program leaves: an exit status and its two output streams.
class ShortcutTool {
 public:
  using Result = Subprocess::Result;

  virtual ~ShortcutTool() = default;
  // Throws std::system_error when the tool can't be started and
  // Subprocess::TimedOut when it ran too long (it has then been stopped).
  virtual asio::awaitable<Result> run(std::vector<std::string> arguments) = 0;
};

}  // namespace glidemate::host
