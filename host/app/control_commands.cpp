#include "host/app/control_commands.hpp"

#include <algorithm>
#include <sstream>
#include <vector>

#include "host/app/settings_drag_mode_setting.hpp"

namespace glidemate::host {

ControlCommands::ControlCommands(HostServer& server, StatusLines& status, UserDefaults& defaults)
    : server_(server), status_(status), defaults_(defaults) {}

ControlCommands::Outcome ControlCommands::run(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty()) return Outcome::carryOn;
  const std::string& command = words.front();

  const bool takesId = command == "disconnect" || command == "allow" || command == "forget";
  const bool takesSwitch = command == "three-finger-drag";
  const std::size_t expected = takesId || takesSwitch ? 2 : 1;
  static const std::vector<std::string> known{"pause",  "resume",  "disconnect",    "allow",
                                              "forget", "decline", "allow-pairing", "peers",
                                              "paired", "quit",    "three-finger-drag", "ask-input"};
  if (std::find(known.begin(), known.end(), command) == known.end()) {
    status_.printError("unknown command '" + command + "'");
    return Outcome::carryOn;
  }
  if (words.size() != expected || (takesSwitch && words[1] != "on" && words[1] != "off")) {
    status_.printError(takesId       ? command + " needs a phone id"
                       : takesSwitch ? command + " needs on or off"
                                     : command + " takes no arguments");
    return Outcome::carryOn;
  }

  if (command == "pause") {
    server_.setPaused(true);
  } else if (command == "resume") {
    server_.setPaused(false);
  } else if (command == "disconnect") {
    server_.disconnect(words[1]);
  } else if (command == "allow") {
    server_.allow(words[1]);
  } else if (command == "forget") {
    server_.forget(words[1]);
  } else if (command == "decline") {
    server_.pairing.decline();
  } else if (command == "allow-pairing") {
    server_.pairing.allowPairing();
  } else if (command == "peers") {
    status_.printPeers();
  } else if (command == "paired") {
    status_.printPaired();
  } else if (command == "three-finger-drag") {
    // Phones hear of it when the drag-mode service next reads the setting.
    const bool enabled = words[1] == "on";
    try {
      defaults_.setBoolean(SettingsDragModeSetting::key, enabled);
      status_.printThreeFingerDrag(enabled);
    } catch (const std::exception& e) {
      status_.printError(e.what());
    }
  } else if (command == "ask-input") {
    if (!askInput_ || !askInput_()) status_.printError("input does not go through the desktop portal: nothing to ask");
  } else if (command == "quit") {
    return Outcome::quit;
  }
  return Outcome::carryOn;
}

}  // namespace glidemate::host
