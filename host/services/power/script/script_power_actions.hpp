#pragma once

#include "host/services/apple_script_runner.hpp"
#include "host/services/power/power_actions.hpp"

namespace glidemate::host {

// Power actions as System Events carries them out; locking presses
// control-command-Q, and only the script's success is checked.
class ScriptPowerActions final : public PowerActions {
 public:
  static constexpr const char* app = "System Events";

  explicit ScriptPowerActions(AppleScriptRunner& runner) : runner_(runner) {}

  static std::string script(PowerAction action);
  asio::awaitable<void> perform(PowerAction action) override;

 private:
  AppleScriptRunner& runner_;
};

}  // namespace glidemate::host
