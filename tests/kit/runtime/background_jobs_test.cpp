#include "kit/runtime/background_jobs.hpp"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "kit/runtime/task.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::driveUntil;
using testing::runAwaitable;
using testing::thrown;

// Work that blocks its thread until it is interrupted, as a transfer waits
// on its sockets.
struct BlockingWork {
  std::mutex mutex;
  std::condition_variable wake;
  bool interrupted = false;
  std::atomic<bool> sawStop = false;

  std::function<int(BackgroundJobs::StopFlag)> work() {
    return [this](BackgroundJobs::StopFlag stop) {
      std::unique_lock lock(mutex);
      wake.wait(lock, [&] { return interrupted; });
      sawStop = stop.load();
      return 0;
    };
  }
  std::function<void()> interrupt() {
    return [this] {
      std::lock_guard lock(mutex);
      interrupted = true;
      wake.notify_all();
    };
  }
};

bool isAbort(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const asio::system_error& error) {
    return error.code() == asio::error::operation_aborted;
  } catch (...) {
    return false;
  }
}

class BackgroundJobsTest : public ::testing::Test {
 protected:
  asio::io_context context;
};

TEST_F(BackgroundJobsTest, ResultsAndFailuresComeBackOnTheExecutor) {
  BackgroundJobs jobs(context.get_executor());
  const auto caller = std::this_thread::get_id();
  std::thread::id worker;
  auto answer = [&]() -> asio::awaitable<std::thread::id> {
    co_await jobs.run<int>([&](BackgroundJobs::StopFlag) {
      worker = std::this_thread::get_id();
      return 42;
    });
    co_return std::this_thread::get_id();
  };
  EXPECT_EQ(runAwaitable(context, answer()), caller);
  EXPECT_NE(worker, caller);
  EXPECT_EQ(runAwaitable(context, jobs.run<int>([](BackgroundJobs::StopFlag) { return 7; })), 7);

  const auto failure = thrown<std::runtime_error>([&] {
    runAwaitable(context, jobs.run<int>([](BackgroundJobs::StopFlag) -> int { throw std::runtime_error("bad"); }));
  });
  ASSERT_TRUE(failure);
  EXPECT_STREQ(failure->what(), "bad");
  EXPECT_EQ(jobs.unfinished(), 0U);
}

TEST_F(BackgroundJobsTest, ACancelledCallerResumesAtOnceAndTheJobIsStoppedAndJoined) {
  BackgroundJobs jobs(context.get_executor());
  BlockingWork blocking;
  bool aborted = false;
  // State comes in as parameters: the frame keeps them, not a lambda's captures.
  Task caller(context.get_executor(), [](BackgroundJobs& j, BlockingWork& b, bool& out) -> asio::awaitable<void> {
    try {
      co_await j.run<int>(b.work(), b.interrupt());
    } catch (const asio::system_error& e) {
      out = e.code() == asio::error::operation_aborted;
    }
  }(jobs, blocking, aborted));
  context.poll();
  ASSERT_EQ(jobs.unfinished(), 1U);
  caller.cancel();
  driveUntil(context, [&] { return caller.isDone() && jobs.unfinished() == 0; });
  EXPECT_TRUE(aborted);
  EXPECT_TRUE(blocking.sawStop);
}

TEST_F(BackgroundJobsTest, DestroyingTheOwnerStopsAndJoinsItsJobsAndReleasesTheirCallers) {
  auto jobs = std::make_unique<BackgroundJobs>(context.get_executor());
  BlockingWork blocking;
  std::exception_ptr outcome;
  bool done = false;
  asio::co_spawn(context, jobs->run<int>(blocking.work(), blocking.interrupt()),
                 [&](std::exception_ptr e, int) {
                   outcome = e;
                   done = true;
                 });
  context.poll();
  jobs.reset();
  EXPECT_TRUE(blocking.sawStop);
  driveUntil(context, [&] { return done; });
  EXPECT_TRUE(isAbort(outcome));
}

}  // namespace
}  // namespace glidemate
