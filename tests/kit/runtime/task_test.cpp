#include "kit/runtime/task.hpp"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>

#include "kit/runtime/async_stream.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::runAwaitable;
using testing::driveUntil;
using testing::thrown;

// Work that parks on a stream until it is cancelled, and records how it left.
struct ParkedWork {
  bool started = false;
  bool aborted = false;
  bool finished = false;

  asio::awaitable<void> run(AsyncStream<int>& stream) {
    started = true;
    try {
      co_await stream.next();
    } catch (const asio::system_error& e) {
      aborted = e.code() == asio::error::operation_aborted;
      throw;
    }
    finished = true;
  }
};

class TaskTest : public ::testing::Test {
 protected:
  asio::io_context context;
  std::pair<AsyncStream<int>, StreamProducer<int>> stream = AsyncStream<int>::make(context.get_executor());
  ParkedWork work;
};

TEST_F(TaskTest, JoinWaitsForTheWorkToEnd) {
  Task task(context.get_executor(), work.run(stream.first));
  context.poll();
  EXPECT_TRUE(work.started);
  EXPECT_FALSE(task.isDone());

  stream.second.yield(1);
  runAwaitable(context, task.join());
  EXPECT_TRUE(work.finished);
  EXPECT_TRUE(task.isDone());
  runAwaitable(context, task.join());  // joining an ended task returns at once
}

TEST_F(TaskTest, CancelStopsSuspendedWorkAndJoinDoesNotReportTheCancellation) {
  Task task(context.get_executor(), work.run(stream.first));
  context.poll();
  task.cancel();
  runAwaitable(context, task.join());
  EXPECT_TRUE(work.aborted);
  EXPECT_FALSE(work.finished);
}

TEST_F(TaskTest, CancelBeforeTheWorkFirstSuspendsStopsItAtThatPoint) {
  Task task(context.get_executor(), work.run(stream.first));
  task.cancel();
  stream.second.yield(1);
  driveUntil(context, [&] { return task.isDone(); });
  EXPECT_FALSE(work.finished);
}

TEST_F(TaskTest, DestroyingTheTaskCancelsItsWork) {
  auto task = std::make_unique<Task>(context.get_executor(), work.run(stream.first));
  context.poll();
  task.reset();
  driveUntil(context, [&] { return work.aborted; });
  EXPECT_FALSE(work.finished);
}

TEST_F(TaskTest, AssigningAnotherTaskCancelsTheOldWork) {
  Task task(context.get_executor(), work.run(stream.first));
  context.poll();
  task = Task();
  driveUntil(context, [&] { return work.aborted; });
  EXPECT_TRUE(task.isDone());
}

TEST_F(TaskTest, JoinRethrowsTheWorksOwnFailure) {
  auto failing = [&]() -> asio::awaitable<void> {
    co_await stream.first.next();
    throw std::runtime_error("work failed");
  };
  Task task(context.get_executor(), failing());
  stream.second.yield(1);
  auto error = thrown<std::runtime_error>([&] { runAwaitable(context, task.join()); });
  ASSERT_TRUE(error.has_value());
  EXPECT_STREQ(error->what(), "work failed");
}

TEST_F(TaskTest, AJoinerThatIsCancelledStopsWaitingWithoutEndingTheTask) {
  Task task(context.get_executor(), work.run(stream.first));
  Task joiner(context.get_executor(), task.join());
  context.poll();
  joiner.cancel();
  driveUntil(context, [&] { return joiner.isDone(); });
  EXPECT_FALSE(task.isDone());
  EXPECT_FALSE(work.aborted);
}

}  // namespace
}  // namespace glidemate
