#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/services/catalog/application_directory.hpp"

namespace glidemate::host {

struct RunningApplication {
  std::string bundleId;
  // An ordinary application with windows of its own, as opposed to a
  // panel, a desktop or a background helper.
  bool isRegular = true;
  // The system's handles for it (its windows on X11).
  std::vector<std::uint64_t> handles;
  bool operator==(const RunningApplication&) const = default;
};

// The applications running now, and what can be asked of them: to come
// forward, to hide, to quit.
class ApplicationSwitcher {
 public:
  virtual ~ApplicationSwitcher() = default;
  // `installed` helps tell which application something running belongs to.
  // This program itself is never among them.
  virtual std::vector<RunningApplication> list(const std::vector<InstalledApplication>& installed) = 0;
  // Brings it forward; false when the system would not.
  virtual bool activate(const RunningApplication& application) = 0;
  virtual void hide(const RunningApplication& application) = 0;
  // Asks it to quit as a user would: it may ask to save, and is never killed.
  virtual void terminate(const RunningApplication& application) = 0;
};

}  // namespace glidemate::host
