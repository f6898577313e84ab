#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/services/apple_script_runner.hpp"
#include "host/services/presentation/presentation_backend.hpp"

namespace glidemate::host {

// Keynote and Microsoft PowerPoint driven by scripts, and the browsers by
// their bundle identifiers: the system's own way, with the exact script
// texts. Which applications run and what the frontmost one's focused window
// shows come from the workspace.
class ScriptPresentationBackend final : public PresentationBackend {
 public:
  // The running applications and, through the Accessibility interface, the
  // focused window of one.
  class Workspace {
   public:
    struct RunningApplication {
      // Empty when it has none.
      std::string bundleId;
      std::optional<std::string> localizedName;
      bool isActive = false;
    };
    struct FocusedWindow {
      // Empty when unavailable.
      std::string title;
      bool isFullScreen = false;
    };

    virtual ~Workspace() = default;
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Nothing when it has none or the read fails.
    virtual std::optional<FocusedWindow> focusedWindow(const RunningApplication& application) = 0;
  };

  static constexpr const char* keynoteBundleId = "com.apple.iWork.Keynote";
  static constexpr const char* powerPointBundleId = "com.microsoft.Powerpoint";

  ScriptPresentationBackend(AppleScriptRunner& runner, Workspace& workspace)
      : runner_(runner), workspace_(workspace) {}

  std::optional<Application> currentApplication() override;
  PresentationStatus status(const Application& application) override;
  std::optional<std::uint16_t> perform(const Application& application, PresentationAction action) override;
  std::optional<BrowserWindow> frontmostBrowserWindow() override;

 private:
  AppleScriptRunner& runner_;
  Workspace& workspace_;
};

}  // namespace glidemate::host
