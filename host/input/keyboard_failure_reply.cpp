#include "host/input/keyboard_failure_reply.hpp"

#include <string>

#include "host/input/keystroke_service.hpp"

namespace glidemate::host::KeyboardFailureReply {

Event forKey(const std::exception&) {
  return Event::Failed{std::string(command), std::string(secureInputReason)};
}

Event forText(const std::exception& error) {
  const bool refused = dynamic_cast<const KeystrokeService::Refusal*>(&error) != nullptr;
  return Event::Failed{std::string(command), std::string(refused ? secureInputReason : notAcceptedReason)};
}

}  // namespace glidemate::host::KeyboardFailureReply
