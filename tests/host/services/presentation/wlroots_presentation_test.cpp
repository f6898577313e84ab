// Presentations on a real headless sway: the focused window, read from the
// compositor's window list, decides what the phone drives.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "host/input/virtual_key.hpp"
#include "host/services/apple_script_runner.hpp"
#include "host/services/presentation/presentation_service.hpp"
#include "host/services/presentation/wlroots/wlroots_presentation_backend.hpp"
#include "tests/support/thrown.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_sway.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using namespace std::chrono_literals;
using glidemate::testing::ChildProcess;
using glidemate::testing::HeadlessSway;
using glidemate::testing::runUntil;
using Failure = AppleScriptRunner::Failure;

constexpr auto patience = 30000ms;

class SwayPresentationTest : public ::testing::Test {
 protected:
  SwayPresentationTest() { sway.adoptEnvironment(); }

  // A window that sway shows (and focuses, being the newest).
  std::unique_ptr<ChildProcess> window(std::vector<std::string> options) {
    auto client = glidemate::testing::startWaylandTestClient(sway, std::move(options));
    EXPECT_FALSE(client->readLineContaining("presented", patience).empty()) << "the window was not shown";
    return client;
  }

  // Until the service's status is `expected`, with sway's news read.
  bool statusBecomes(const PresentationStatus& expected) {
    return runUntil(io, [&] { return service.status() == expected; }, patience);
  }

  HeadlessSway sway;
  asio::io_context io;
  CollectingLogger logger;
  PresentationService service{std::make_unique<WlrootsPresentationBackend>(
      std::make_unique<WlrootsToplevels>(io.get_executor(), logger, std::string()))};
};

TEST_F(SwayPresentationTest, ABrowserWindowIsSeenWithItsTitleAndGoesFullScreen) {
  // A Flatpak's id: the browser is its last part.
  const auto browser = window({"--app-id", "org.mozilla.firefox", "--title", "Quarterly review - Google Slides",
                               "--windowed"});
  EXPECT_TRUE(statusBecomes({"Google Slides", false, 0, 0, "", false}));
  EXPECT_TRUE(service.drivesBrowser());
  EXPECT_EQ(service.perform(PresentationAction::next), VirtualKey::rightArrow);

  sway.command("fullscreen enable");
  EXPECT_TRUE(statusBecomes({"Google Slides", true, 0, 0, "", false}));
}

TEST_F(SwayPresentationTest, ImpressIsDrivenByKeysAndAnotherWindowLeavesNothingToDrive) {
  const auto impress = window({"--app-id", "libreoffice-impress", "--title", "talk.odp", "--windowed"});
  EXPECT_TRUE(statusBecomes({"Impress", false, 0, 0, "", false}));
  EXPECT_EQ(service.perform(PresentationAction::start), VirtualKey::f5);
  sway.command("fullscreen enable");
  EXPECT_TRUE(statusBecomes({"Impress", true, 0, 0, "", false}));

  // A window of no known program takes the focus.
  sway.command("fullscreen disable");
  const auto other = window({"--app-id", "org.example.notes", "--title", "Google Slides notes", "--windowed"});
  EXPECT_TRUE(statusBecomes({std::nullopt, false, 0, 0, "", true}));
  EXPECT_EQ(glidemate::testing::thrown<Failure>([&] { service.perform(PresentationAction::next); }),
            Failure::failed(PresentationService::nothingToDrive));
}

TEST_F(SwayPresentationTest, WindowsAreSeenAgainWhenSwayComesBack) {
  const auto before = window({"--app-id", "chromium", "--title", "Pitch deck", "--windowed"});
  EXPECT_TRUE(statusBecomes({"Pitch", false, 0, 0, "", false}));

  sway.stopSway();
  ASSERT_TRUE(runUntil(io, [&] { return logger.saw("went away"); }, patience));
  EXPECT_EQ(service.status().app, std::nullopt);

  sway.startSway();
  const auto after = window({"--app-id", "chromium", "--title", "Canva - Design", "--windowed"});
  EXPECT_TRUE(statusBecomes({"Canva", false, 0, 0, "", false}));
}

}  // namespace
}  // namespace glidemate::host
