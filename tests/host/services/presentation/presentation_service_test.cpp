// Presentation control through the script backend: Keynote, PowerPoint and
// browsers as the system scripts and reads them, over a fake runner and a
// fake workspace.
#include "host/services/presentation/presentation_service.hpp"

#include <gtest/gtest.h>

#include <map>

#include "host/services/fake_apple_script_runner.hpp"
#include "host/services/presentation/script/script_presentation_backend.hpp"
#include "host/services/presentation/xwayland_presentation_backend.hpp"
#include "host/input/virtual_key.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate::host {
namespace {

using Failure = AppleScriptRunner::Failure;
using Workspace = ScriptPresentationBackend::Workspace;

constexpr const char* keynote = ScriptPresentationBackend::keynoteBundleId;
constexpr const char* powerPoint = ScriptPresentationBackend::powerPointBundleId;

class FakeWorkspace final : public Workspace {
 public:
  std::vector<RunningApplication> running;
  std::map<std::string, FocusedWindow> windows;

  std::vector<RunningApplication> runningApplications() override { return running; }
  std::optional<FocusedWindow> focusedWindow(const RunningApplication& application) override {
    const auto found = windows.find(application.bundleId);
    if (found == windows.end()) return std::nullopt;
    return found->second;
  }
};

ScriptValue list(std::vector<ScriptValue> items) { return ScriptValue{std::move(items)}; }
ScriptValue text(std::string s) { return ScriptValue{std::move(s)}; }
ScriptValue number(std::int64_t n) { return ScriptValue{n}; }
ScriptValue flag(bool b) { return ScriptValue{b}; }

PresentationStatus emptyStatus() { return {std::nullopt, false, 0, 0, "", true}; }
PresentationStatus browserStatus(std::string app, bool playing) { return {std::move(app), playing, 0, 0, "", false}; }

class PresentationServiceTest : public ::testing::Test {
 protected:
  FakeAppleScriptRunner runner;
  FakeWorkspace workspace;
  PresentationService service{std::make_unique<ScriptPresentationBackend>(runner, workspace)};

  std::optional<Failure> failureOf(PresentationAction action) {
    return glidemate::testing::thrown<Failure>([&] { service.perform(action); });
  }
};

TEST_F(PresentationServiceTest, TheFrontmostOfKeynoteAndPowerPointIsDriven) {
  workspace.running = {{keynote, "Keynote", false}, {powerPoint, "Microsoft PowerPoint", true}};
  runner.enqueue(list({flag(true), number(3), number(12), text("Welcome")}));
  EXPECT_EQ(service.status(), (PresentationStatus{"PowerPoint", true, 3, 12, "Welcome", true}));
  EXPECT_EQ(runner.runs().back().app, "PowerPoint");
  EXPECT_EQ(service.perform(PresentationAction::next), std::nullopt);
  EXPECT_EQ(runner.runs().back(),
            (FakeAppleScriptRunner::Run{
                "tell application \"Microsoft PowerPoint\" to go to next slide slide show view of slide show window 1",
                "PowerPoint"}));

  // Both in the background: Keynote.
  workspace.running[1].isActive = false;
  runner.enqueue(list({flag(false), number(0), number(0), text("")}));
  service.status();
  EXPECT_EQ(runner.runs().back(),
            (FakeAppleScriptRunner::Run{"tell application \"Keynote\"\n"
                                        "    if (count of documents) is 0 then return {false, 0, 0, \"\"}\n"
                                        "    set d to front document\n"
                                        "    set s to current slide of d\n"
                                        "    return {playing, slide number of s, count of slides of d, presenter "
                                        "notes of s}\n"
                                        "end tell",
                                        "Keynote"}));
}

TEST_F(PresentationServiceTest, EachActionRunsItsCommand) {
  struct Case {
    const char* bundleId;
    PresentationAction action;
    const char* script;
    const char* app;
  };
  const std::vector<Case> cases{
      {keynote, PresentationAction::start,
       "tell application \"Keynote\" to start front document from current slide of front document", "Keynote"},
      {keynote, PresentationAction::next, "tell application \"Keynote\" to show next", "Keynote"},
      {keynote, PresentationAction::previous, "tell application \"Keynote\" to show previous", "Keynote"},
      {keynote, PresentationAction::end, "tell application \"Keynote\" to stop front document", "Keynote"},
      {powerPoint, PresentationAction::start,
       "tell application \"Microsoft PowerPoint\" to run slide show slide show settings of active presentation",
       "PowerPoint"},
      {powerPoint, PresentationAction::previous,
       "tell application \"Microsoft PowerPoint\" to go to previous slide slide show view of slide show window 1",
       "PowerPoint"},
      {powerPoint, PresentationAction::end,
       "tell application \"Microsoft PowerPoint\" to exit slide show slide show view of slide show window 1",
       "PowerPoint"},
  };
  for (const auto& c : cases) {
    workspace.running = {{c.bundleId, std::nullopt, true}};
    EXPECT_EQ(service.perform(c.action), std::nullopt);
    EXPECT_EQ(runner.runs().back(), (FakeAppleScriptRunner::Run{c.script, c.app}));
  }
}

TEST_F(PresentationServiceTest, RepliesAreReadByPositionAndNotesTrimmed) {
  workspace.running = {{keynote, "Keynote", true}};
  struct Case {
    const char* what;
    ScriptValue reply;
    PresentationStatus status;
  };
  const std::vector<Case> cases{
      {"no document", list({flag(false), number(0), number(0), text("")}), {"Keynote", false, 0, 0, "", true}},
      {"blank lines", list({flag(true), number(2), number(5), text("\n \n\t\n")}), {"Keynote", true, 2, 5, "", true}},
      {"spaces of every kind", list({flag(true), number(1), number(1), text("\xC2\xA0 Intro\n  line 2\xE2\x80\xA8")}),
       {"Keynote", true, 1, 1, "Intro\n  line 2", true}},
      {"short list", list({flag(true)}), {"Keynote", true, 0, 0, "", true}},
      {"reals and wrong types", list({text("yes"), ScriptValue{4.0}, ScriptValue{1e12}, number(7)}),
       {"Keynote", false, 4, 2147483647, "", true}},
      {"not a list", text("whatever"), {"Keynote", false, 0, 0, "", true}},
  };
  for (const auto& c : cases) {
    runner.enqueue(c.reply);
    EXPECT_EQ(service.status(), c.status) << c.what;
  }
}

TEST_F(PresentationServiceTest, ScriptFailuresComeThrough) {
  workspace.running = {{powerPoint, std::nullopt, false}};
  runner.enqueue(Failure::notPermitted("PowerPoint"));
  EXPECT_EQ(glidemate::testing::thrown<Failure>([&] { service.status(); }), Failure::notPermitted("PowerPoint"));
  runner.enqueue(Failure::failed("PowerPoint got an error."));
  EXPECT_EQ(failureOf(PresentationAction::next), Failure::failed("PowerPoint got an error."));
}

TEST_F(PresentationServiceTest, AFullScreenWebSlideshowIsDrivenByKeys) {
  workspace.running = {{"com.google.Chrome", "Google Chrome", true}};
  workspace.windows["com.google.Chrome"] = {"Quarterly review - Google Slides", true};
  // Browser keys only once a status query has found the slideshow.
  EXPECT_EQ(failureOf(PresentationAction::next), Failure::failed(PresentationService::nothingToDrive));
  EXPECT_EQ(service.status(), browserStatus("Google Slides", true));
  EXPECT_TRUE(service.drivesBrowser());
  EXPECT_EQ(service.perform(PresentationAction::next), VirtualKey::rightArrow);
  EXPECT_EQ(service.perform(PresentationAction::previous), VirtualKey::leftArrow);
  EXPECT_EQ(service.perform(PresentationAction::end), VirtualKey::escape);
  EXPECT_EQ(failureOf(PresentationAction::start), Failure::failed(PresentationService::startInBrowser));
  EXPECT_TRUE(runner.runs().empty());
}

TEST_F(PresentationServiceTest, BrowserWindowsAreMatchedByTitle) {
  struct Case {
    const char* what;
    Workspace::RunningApplication front;
    std::optional<Workspace::FocusedWindow> window;
    PresentationStatus status;
  };
  const Workspace::RunningApplication safari{"com.apple.Safari", "Safari", true};
  const std::vector<Case> cases{
      {"not full screen, no keyword", safari, Workspace::FocusedWindow{"Inbox", false}, emptyStatus()},
      {"not full screen, a keyword", safari, Workspace::FocusedWindow{"Launch deck | Pitch", false},
       browserStatus("Pitch", false)},
      {"full screen, no keyword", safari, Workspace::FocusedWindow{"Photos", true}, browserStatus("Safari", true)},
      {"a browser without a name", {"org.mozilla.firefox", std::nullopt, true}, Workspace::FocusedWindow{"", true},
       browserStatus("Browser", true)},
      {"the first keyword of the table wins", safari, Workspace::FocusedWindow{"Prezi vs Gamma", true},
       browserStatus("Gamma", true)},
      {"any case", safari, Workspace::FocusedWindow{"\xC3\x9C" "bersicht \xE2\x80\x93 CANVA", true},
       browserStatus("Canva", true)},
      {"a keyword with its dot", safari, Workspace::FocusedWindow{"talk - slides.COM", true},
       browserStatus("Slides", true)},
      {"no window to read", safari, std::nullopt, emptyStatus()},
      {"not a browser", {"com.apple.mail", "Mail", true}, Workspace::FocusedWindow{"Google Slides", true},
       emptyStatus()},
      {"no bundle identifier", {"", "Tool", true}, Workspace::FocusedWindow{"Google Slides", true}, emptyStatus()},
  };
  for (const auto& c : cases) {
    workspace.running = {c.front};
    workspace.windows.clear();
    if (c.window) workspace.windows[c.front.bundleId] = *c.window;
    EXPECT_EQ(service.status(), c.status) << c.what;
    EXPECT_EQ(service.drivesBrowser(), c.status.app.has_value()) << c.what;
  }
  // Nothing found: nothing to drive.
  EXPECT_EQ(failureOf(PresentationAction::next), Failure::failed(PresentationService::nothingToDrive));
}

// A Wayland desktop that hides which window is in front: a slideshow the
// X display still shows is driven as ever; otherwise whatever is in front
// is reported as a playing slideshow and driven by the browser keys.
TEST_F(PresentationServiceTest, UnreadableWindowsAreDrivenByKeys) {
  PresentationService blind{std::make_unique<XWaylandPresentationBackend>(
      std::make_unique<ScriptPresentationBackend>(runner, workspace))};
  EXPECT_EQ(blind.status(), browserStatus(PresentationService::unseenSlideshow, true));
  EXPECT_EQ(blind.perform(PresentationAction::next), VirtualKey::rightArrow);
  EXPECT_EQ(blind.perform(PresentationAction::previous), VirtualKey::leftArrow);
  EXPECT_EQ(blind.perform(PresentationAction::end), VirtualKey::escape);
  EXPECT_EQ(glidemate::testing::thrown<Failure>([&] { blind.perform(PresentationAction::start); }),
            Failure::failed(PresentationService::startInBrowser));

  workspace.running = {{keynote, "Keynote", true}};
  runner.enqueue(list({flag(true), number(2), number(5), text("")}));
  EXPECT_EQ(blind.status(), (PresentationStatus{"Keynote", true, 2, 5, "", true}));
  EXPECT_FALSE(blind.drivesBrowser());

  // Without an X display at all.
  PresentationService none{std::make_unique<XWaylandPresentationBackend>(nullptr)};
  EXPECT_EQ(none.status(), browserStatus(PresentationService::unseenSlideshow, true));
  EXPECT_EQ(none.perform(PresentationAction::next), VirtualKey::rightArrow);
}

}  // namespace
}  // namespace glidemate::host
