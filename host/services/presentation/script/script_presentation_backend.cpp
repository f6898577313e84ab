#include "host/services/presentation/script/script_presentation_backend.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

namespace glidemate::host {
namespace {

constexpr std::string_view keynoteStatusScript =
    "tell application \"Keynote\"\n"
    "    if (count of documents) is 0 then return {false, 0, 0, \"\"}\n"
    "    set d to front document\n"
    "    set s to current slide of d\n"
    "    return {playing, slide number of s, count of slides of d, presenter notes of s}\n"
    "end tell";

constexpr std::string_view powerPointStatusScript =
    "tell application \"Microsoft PowerPoint\"\n"
    "    if (count of presentations) is 0 then return {false, 0, 0, \"\"}\n"
    "    set p to active presentation\n"
    "    set n to count of slides of p\n"
    "    set isPlaying to (count of slide show windows) > 0\n"
    "    set i to 1\n"
    "    if isPlaying then\n"
    "        set i to current show position of slide show view of slide show window 1\n"
    "    else\n"
    "        try\n"
    "            set i to slide index of slide of view of document window 1\n"
    "        end try\n"
    "    end if\n"
    "    set theNotes to \"\"\n"
    "    try\n"
    "        set theNotes to content of text range of text frame of shape 2 of notes page of slide i of p\n"
    "    end try\n"
    "    return {isPlaying, i, n, theNotes}\n"
    "end tell";

constexpr std::array<std::string_view, 8> browserBundleIds{
    "com.apple.Safari",        "com.google.Chrome",          "org.mozilla.firefox", "com.microsoft.edgemac",
    "company.thebrowser.Browser", "com.brave.Browser", "com.vivaldi.Vivaldi", "com.operasoftware.Opera",
};

struct ScriptedApp {
  std::string_view bundleId;
  // The name in statuses and in a missing-permission failure.
  std::string_view name;
  // The name scripts address it by.
  std::string_view target;
  std::string_view statusScript;
  // start, next, previous, end
  std::array<std::string_view, 4> commands;
};

constexpr std::array<ScriptedApp, 2> scriptedApps{{
    {ScriptPresentationBackend::keynoteBundleId, "Keynote", "Keynote", keynoteStatusScript,
     {"start front document from current slide of front document", "show next", "show previous",
      "stop front document"}},
    {ScriptPresentationBackend::powerPointBundleId, "PowerPoint", "Microsoft PowerPoint", powerPointStatusScript,
     {"run slide show slide show settings of active presentation",
      "go to next slide slide show view of slide show window 1",
      "go to previous slide slide show view of slide show window 1",
      "exit slide show slide show view of slide show window 1"}},
}};

const ScriptedApp* scriptedApp(const PresentationBackend::Application& application) {
  for (const auto& app : scriptedApps) {
    if (app.name == application.name) return &app;
  }
  return nullptr;
}

// A script number as a 32-bit integer; 0 when absent or not a number.
std::int64_t int32Value(const ScriptValue* value) {
  if (value == nullptr) return 0;
  double number = 0;
  if (const auto* integer = std::get_if<std::int64_t>(&value->value)) number = static_cast<double>(*integer);
  else if (const auto* real = std::get_if<double>(&value->value)) number = *real;
  else return 0;
  if (!(number == number)) return 0;  // NaN
  return static_cast<std::int32_t>(std::clamp(number, double{std::numeric_limits<std::int32_t>::min()},
                                              double{std::numeric_limits<std::int32_t>::max()}));
}

}  // namespace

std::optional<PresentationBackend::Application> ScriptPresentationBackend::currentApplication() {
  const auto running = workspace_.runningApplications();
  std::optional<Application> first;
  for (const auto& app : scriptedApps) {
    for (const auto& r : running) {
      if (r.bundleId != app.bundleId) continue;
      // The frontmost one wins; in the background, Keynote before PowerPoint.
      if (r.isActive) return Application{std::string(app.name)};
      if (!first) first = Application{std::string(app.name)};
    }
  }
  return first;
}

PresentationStatus ScriptPresentationBackend::status(const Application& application) {
  const ScriptedApp* app = scriptedApp(application);
  if (app == nullptr) throw AppleScriptRunner::Failure::failed(application.name + " refused the command.");
  const ScriptValue reply = runner_.run(std::string(app->statusScript), std::string(app->name));
  PresentationStatus status;
  status.app = std::string(app->name);
  status.isPlaying = reply.item(1) != nullptr && reply.item(1)->booleanValue().value_or(false);
  status.slideIndex = int32Value(reply.item(2));
  status.slideCount = int32Value(reply.item(3));
  if (reply.item(4) != nullptr) status.notes = reply.item(4)->stringValue().value_or("");
  status.notesAvailable = true;
  return status;
}

std::optional<std::uint16_t> ScriptPresentationBackend::perform(const Application& application,
                                                                PresentationAction action) {
  const ScriptedApp* app = scriptedApp(application);
  if (app == nullptr) throw AppleScriptRunner::Failure::failed(application.name + " refused the command.");
  const std::string script = "tell application \"" + std::string(app->target) + "\" to " +
                             std::string(app->commands[static_cast<std::size_t>(action)]);
  runner_.run(script, std::string(app->name));
  return std::nullopt;
}

std::optional<PresentationBackend::BrowserWindow> ScriptPresentationBackend::frontmostBrowserWindow() {
  const auto running = workspace_.runningApplications();
  const auto front = std::find_if(running.begin(), running.end(), [](const auto& r) { return r.isActive; });
  if (front == running.end() || front->bundleId.empty()) return std::nullopt;
  if (std::find(browserBundleIds.begin(), browserBundleIds.end(), front->bundleId) == browserBundleIds.end()) {
    return std::nullopt;
  }
  const auto window = workspace_.focusedWindow(*front);
  if (!window) return std::nullopt;
  return BrowserWindow{front->localizedName, window->title, window->isFullScreen};
}

}  // namespace glidemate::host
