#include "host/server/host_services.hpp"

namespace glidemate::host {

std::vector<Event> HostServices::mirroredSettings() const {
  return {Event::ThreeFingerDragEnabled{dragMode != nullptr && dragMode->isEnabled()},
          Event::KeepAwake{power != nullptr && power->isKeptAwake()}};
}

}  // namespace glidemate::host
