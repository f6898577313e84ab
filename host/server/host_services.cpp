#include "host/server/host_services.hpp"

namespace glidemate::host {

std::vector<Event> HostServices::mirroredSettings() const {
  return {Event::ThreeFingerDragEnabled{false}, Event::KeepAwake{false}};
}

}  // namespace glidemate::host
