#include "host/app/control_commands.hpp"

#include <sstream>
#include <vector>

namespace glidemate::host {

ControlCommands::ControlCommands(HostServer& server, StatusLines& status)
    : server_(server), status_(status) {}

ControlCommands::Outcome ControlCommands::run(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  if (words.empty()) return Outcome::carryOn;
  const std::string& command = words.front();

  const bool takesId = command == "disconnect" || command == "allow" || command == "forget";
  const std::size_t expected = takesId ? 2 : 1;
  static const std::vector<std::string> known{"pause", "resume",        "disconnect", "allow",
                                              "forget", "decline",      "allow-pairing",
                                              "peers",  "paired",       "quit"};
  if (std::find(known.begin(), known.end(), command) == known.end()) {
    status_.printError("unknown command '" + command + "'");
    return Outcome::carryOn;
  }
  if (words.size() != expected) {
    status_.printError(takesId ? command + " needs a phone id" : command + " takes no arguments");
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
  } else if (command == "quit") {
    return Outcome::quit;
  }
  return Outcome::carryOn;
}

}  // namespace glidemate::host
