#include "host/companion/permissions_service.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "tests/host/companion/fake_permission_probe.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;

TEST(PermissionsService, RefreshTakesEveryAnswerWithItsReason) {
  asio::io_context io;
  testing::FakePermissionProbe probe;
  probe.captureAnswer = {false, "no X display to capture"};
  probe.busAnswer = {false, "the session bus does not answer"};
  PermissionsService permissions(io.get_executor(), probe);
  EXPECT_EQ(*permissions.automation, PermissionsService::AutomationState::unknown);

  permissions.refresh();
  EXPECT_FALSE(*permissions.isAccessibilityTrusted);
  EXPECT_EQ(*permissions.accessibilityWhy, "no display");
  EXPECT_FALSE(*permissions.isScreenRecordingAllowed);
  EXPECT_EQ(*permissions.screenRecordingWhy, "no X display to capture");
  EXPECT_EQ(*permissions.automation, PermissionsService::AutomationState::denied);
  EXPECT_EQ(*permissions.automationWhy, "the session bus does not answer");

  probe.inputAnswer = {true, {}};
  probe.busAnswer = {true, {}};
  permissions.refresh();
  EXPECT_TRUE(*permissions.isAccessibilityTrusted);
  EXPECT_EQ(*permissions.accessibilityWhy, "");
  EXPECT_EQ(*permissions.automation, PermissionsService::AutomationState::granted);
  EXPECT_EQ(*permissions.automationWhy, "");
}

// Polling twice runs one poll.
TEST(PermissionsService, PollingTwiceRunsOnePoll) {
  asio::io_context io;
  testing::FakePermissionProbe probe;
  PermissionsService permissions(io.get_executor(), probe, 1h);
  permissions.startPolling();
  permissions.startPolling();
  io.poll();
  EXPECT_EQ(probe.inputChecks, 1);
  EXPECT_TRUE(permissions.isPolling());
}

// The poll keeps asking while input is not allowed and ends by itself once
// it is.
TEST(PermissionsService, ThePollEndsOnceInputIsAllowed) {
  asio::io_context io;
  testing::FakePermissionProbe probe;
  PermissionsService permissions(io.get_executor(), probe, 1ms);
  permissions.startPolling();
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return probe.inputChecks >= 3; }));
  probe.inputAnswer = {true, {}};
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return !permissions.isPolling(); }));
  EXPECT_TRUE(*permissions.isAccessibilityTrusted);
  const int checks = probe.inputChecks;
  io.restart();
  io.poll();
  EXPECT_EQ(probe.inputChecks, checks);

  // Once allowed there is nothing to wait for: a new poll checks once.
  permissions.startPolling();
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return !permissions.isPolling(); }));
  EXPECT_EQ(probe.inputChecks, checks + 1);
}

// While the desktop asks the user, asking the probe again changes nothing:
// the answer is followed through refreshInput(), so no poll keeps spinning.
TEST(PermissionsService, ThePollEndsWhileTheDesktopAsksTheUser) {
  asio::io_context io;
  testing::FakePermissionProbe probe;
  probe.inputAnswer = {false, "the desktop will ask", PermissionProbe::Question::pending};
  PermissionsService permissions(io.get_executor(), probe, 1ms);
  permissions.startPolling();
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return !permissions.isPolling(); }));
  EXPECT_EQ(probe.inputChecks, 1);
  EXPECT_EQ(*permissions.inputQuestion, PermissionProbe::Question::pending);
}

TEST(PermissionsService, APollEndsWithTheService) {
  asio::io_context io;
  testing::FakePermissionProbe probe;
  {
    PermissionsService permissions(io.get_executor(), probe, 1h);
    permissions.startPolling();
    io.poll();
  }
  io.restart();
  io.poll();
  EXPECT_EQ(probe.inputChecks, 1);
  EXPECT_TRUE(io.stopped());
}

}  // namespace
}  // namespace glidemate::host
