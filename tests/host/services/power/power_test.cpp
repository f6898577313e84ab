// The power service's own rules, over fake ports; the System Events scripts
// through a recording script runner; pmset as a real child process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <asio/io_context.hpp>
#include <fstream>

#include "host/services/fake_apple_script_runner.hpp"
#include "host/services/power/power_service.hpp"
#include "host/services/power/script/pmset_display_sleeper.hpp"
#include "host/services/power/script/script_power_actions.hpp"
#include "kit/runtime/task.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;

// Grants assertions 1, 2, ... after a request has been seen, so that a
// test can hold two requests in flight at once.
class FakeAssertions final : public KeepAwakeAssertions {
 public:
  explicit FakeAssertions(asio::io_context& io) : answer(io.get_executor()) {}

  std::vector<std::string> created;
  std::vector<std::uint32_t> released;
  bool refuse = false;
  bool holdAnswers = false;
  Notifier answer;
  std::function<void()> lost;

  asio::awaitable<std::optional<std::uint32_t>> create(const std::string& name) override {
    created.push_back(name);
    while (holdAnswers) co_await answer.wait();
    if (refuse) co_return std::nullopt;
    co_return static_cast<std::uint32_t>(created.size());
  }
  asio::awaitable<void> release(std::uint32_t assertion) override {
    released.push_back(assertion);
    co_return;
  }
  void onLost(std::function<void()> handler) override { lost = std::move(handler); }
};

class UnusedActions final : public PowerActions, public DisplaySleeper {
 public:
  asio::awaitable<void> perform(PowerAction) override { co_return; }
  void sleepDisplay() override {}
};

class KeepAwakeTest : public ::testing::Test {
 protected:
  asio::io_context io;
  std::unique_ptr<FakeAssertions> ownAssertions = std::make_unique<FakeAssertions>(io);
  FakeAssertions& assertions = *ownAssertions;
  PowerService power{io.get_executor(), std::make_unique<UnusedActions>(), std::make_unique<UnusedActions>(),
                     std::move(ownAssertions)};
};

TEST_F(KeepAwakeTest, RepeatedRequestsMakeOneAssertionAndOneRelease) {
  runAwaitable(io, power.setKeepAwake(true));
  runAwaitable(io, power.setKeepAwake(true));
  EXPECT_TRUE(power.isKeptAwake());
  EXPECT_EQ(assertions.created, std::vector<std::string>{"Kept awake from Glidemate"});

  runAwaitable(io, power.setKeepAwake(false));
  runAwaitable(io, power.setKeepAwake(false));
  EXPECT_FALSE(power.isKeptAwake());
  EXPECT_EQ(assertions.released, std::vector<std::uint32_t>{1});
}

TEST_F(KeepAwakeTest, TwoPhonesAskingAtOnceStillMakeOneAssertion) {
  assertions.holdAnswers = true;
  Task first(io.get_executor(), power.setKeepAwake(true));
  Task second(io.get_executor(), power.setKeepAwake(true));
  ASSERT_TRUE(runUntil(io, [&] { return assertions.created.size() == 1; }));
  io.restart();
  io.poll();
  assertions.holdAnswers = false;
  assertions.answer.notifyAll();
  ASSERT_TRUE(runUntil(io, [&] { return first.isDone() && second.isDone(); }));
  EXPECT_EQ(assertions.created.size(), 1u);
  EXPECT_TRUE(power.isKeptAwake());
}

TEST_F(KeepAwakeTest, ARefusalOrALossLeavesTheComputerNotKeptAwake) {
  assertions.refuse = true;
  runAwaitable(io, power.setKeepAwake(true));
  EXPECT_FALSE(power.isKeptAwake());

  assertions.refuse = false;
  int lostReports = 0;
  power.onKeepAwakeLost = [&] { ++lostReports; };
  runAwaitable(io, power.setKeepAwake(true));
  assertions.lost();
  EXPECT_FALSE(power.isKeptAwake());
  EXPECT_EQ(lostReports, 1);
  // Nothing is held, so nothing is released; a new request asks again.
  runAwaitable(io, power.setKeepAwake(false));
  EXPECT_TRUE(assertions.released.empty());
  runAwaitable(io, power.setKeepAwake(true));
  EXPECT_EQ(assertions.created.size(), 3u);
}

TEST(ScriptPowerActions, SendTheSystemEventsScripts) {
  asio::io_context io;
  FakeAppleScriptRunner runner;
  ScriptPowerActions actions(runner);
  for (auto action : allPowerActions) runAwaitable(io, actions.perform(action));
  using Run = FakeAppleScriptRunner::Run;
  EXPECT_EQ(runner.runs(),
            (std::vector<Run>{
                {"tell application \"System Events\" to sleep", "System Events"},
                {"tell application \"System Events\" to keystroke \"q\" using {control down, command down}",
                 "System Events"},
                {"tell application \"System Events\" to restart", "System Events"},
                {"tell application \"System Events\" to shut down", "System Events"},
            }));

  runner.enqueue(AppleScriptRunner::Failure::notPermitted("System Events"));
  try {
    runAwaitable(io, actions.perform(PowerAction::sleep));
    ADD_FAILURE() << "the refusal was lost";
  } catch (const AppleScriptRunner::Failure& e) {
    EXPECT_EQ(e, AppleScriptRunner::Failure::notPermitted("System Events"));
  }
}

TEST(PmsetDisplaySleeper, StartsTheToolWithoutWaitingAndReportsOnlyAFailedStart) {
  asio::io_context io;
  glidemate::testing::TempDir folder;
  const auto fifo = folder / "arguments";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto tool = folder.write("pmset", "#!/bin/sh\necho \"$@\" > '" + fifo + "'\n", 0755);

  PmsetDisplaySleeper sleeper(io.get_executor(), tool.string());
  sleeper.sleepDisplay();
  // The tool runs on its own; its words arrive whether or not the host waits.
  std::ifstream arguments(fifo);
  std::string line;
  std::getline(arguments, line);
  EXPECT_EQ(line, "displaysleepnow");

  PmsetDisplaySleeper missing(io.get_executor(), folder / "absent");
  EXPECT_THROW(missing.sleepDisplay(), std::system_error);
}

}  // namespace
}  // namespace glidemate::host
