#include "host/services/shortcuts/shortcuts_service.hpp"

#include <asio/error.hpp>
#include <system_error>

#include "host/services/whitespace_trim.hpp"
#include "kit/wire/utf8.hpp"

namespace glidemate::host {
namespace {

bool isUtf8(const std::string& text) {
  return isValidUtf8(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Cuts `text` to at most `limit` bytes at a character boundary, marking the cut.
std::string shortened(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  const std::string ellipsis = "…";
  std::size_t end = limit - ellipsis.size();
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text + ellipsis;
}

// The tool's error text as the phone's user should read it. A stream cut
// at the keeping limit may end inside a character; that piece is dropped.
std::string messageFrom(std::string error) {
  if (!isUtf8(error)) {
    std::size_t end = error.size();
    for (int back = 0; back < 3 && end > 0; ++back) {
      --end;
      if ((static_cast<unsigned char>(error[end]) & 0xC0) != 0x80) break;
    }
    if (!isUtf8(error.substr(0, end))) return ShortcutsService::didNotFinish;
    error.resize(end);
  }
  std::string message = trimWhitespace(error);
  if (message.empty()) return ShortcutsService::didNotFinish;
  return shortened(std::move(message), ShortcutsService::maxMessageBytes);
}

bool isCancellation(const std::system_error& e) { return e.code() == asio::error::operation_aborted; }

}  // namespace

asio::awaitable<std::string> ShortcutsService::runTool(std::vector<std::string> arguments) {
  ShortcutTool::Result result;
  try {
    result = co_await tool_->run(std::move(arguments));
  } catch (const Subprocess::TimedOut&) {
    throw Failure(tookTooLong);
  }
  if (result.exitStatus != 0) throw Failure(messageFrom(std::move(result.standardError)));
  if (!isUtf8(result.standardOutput)) co_return std::string();
  co_return std::move(result.standardOutput);
}

asio::awaitable<std::vector<std::string>> ShortcutsService::list() {
  std::string output;
  try {
    std::vector<std::string> arguments{"list"};
    output = co_await runTool(std::move(arguments));
  } catch (const std::system_error& e) {
    if (isCancellation(e)) throw;
  } catch (const std::exception&) {
  }
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= output.size()) {
    const std::size_t end = std::min(output.find('\n', start), output.size());
    std::string name = trimWhitespace(std::string_view(output).substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  co_return names;
}

asio::awaitable<void> ShortcutsService::run(const std::string& name) {
  std::vector<std::string> arguments{"run", name};
  co_await runTool(std::move(arguments));
}

}  // namespace glidemate::host
