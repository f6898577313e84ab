#pragma once

#include <chrono>
#include <string>

namespace glidemate::host {

// "2 minutes ago", "in 1 hour": how long before (or after) `now` a moment
// lies, in its largest whole unit. Under a minute reads "just now".
std::string relativeTime(std::chrono::system_clock::time_point moment, std::chrono::system_clock::time_point now);

}  // namespace glidemate::host
