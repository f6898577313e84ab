#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host/server/observable.hpp"

namespace glidemate::host {

// Starting at login, the XDG way: an autostart entry in the user's autostart
// folder ($XDG_CONFIG_HOME/autostart), written atomically when turned on and
// removed when turned off. An entry the user switched off in the desktop's
// own settings (Hidden=true, X-GNOME-Autostart-enabled=false) counts as off.
// Lives on the main executor.
class LoginItemService {
 public:
  static constexpr const char* entryName = "glidemate-companion.desktop";

  // `entry` is the text of the desktop entry to write.
  LoginItemService(std::filesystem::path autostartFolder, std::string entry);

  Observable<bool> isEnabled{false};
  // Why the last change failed; cleared by the next one that works.
  Observable<std::optional<std::string>> problem;

  void setEnabled(bool enabled);

  // $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
  static std::filesystem::path defaultFolder();
  // The entry template with its Exec line pointing at `program`.
  static std::string entryFor(const std::string& entryTemplate, const std::filesystem::path& program);

 private:
  bool readEnabled() const;
  std::filesystem::path file() const { return folder_ / entryName; }

  std::filesystem::path folder_;
  std::string entry_;
};

}  // namespace glidemate::host
