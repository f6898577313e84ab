#include "host/services/power/script/script_power_actions.hpp"

namespace glidemate::host {

std::string ScriptPowerActions::script(PowerAction action) {
  switch (action) {
    case PowerAction::sleep:
      return "tell application \"System Events\" to sleep";
    case PowerAction::lock:
      return "tell application \"System Events\" to keystroke \"q\" using {control down, command down}";
    case PowerAction::restart:
      return "tell application \"System Events\" to restart";
    case PowerAction::shutDown:
      return "tell application \"System Events\" to shut down";
  }
  return {};
}

asio::awaitable<void> ScriptPowerActions::perform(PowerAction action) {
  runner_.run(script(action), app);
  co_return;
}

}  // namespace glidemate::host
