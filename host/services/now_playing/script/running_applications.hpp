#pragma once

#include <string>
#include <vector>

namespace glidemate::host {

// The applications running on this computer, as the script backends need
// to know them.
class RunningApplications {
 public:
  virtual ~RunningApplications() = default;

  // The bundle identifiers of the running applications; applications
  // without one are left out.
  virtual std::vector<std::string> bundleIdentifiers() = 0;
};

}  // namespace glidemate::host
