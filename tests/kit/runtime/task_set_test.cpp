#include "kit/runtime/task_set.hpp"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include "kit/runtime/async_stream.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

// Work that parks on `stream` until a value comes, noting how it ended.
asio::awaitable<void> park(AsyncStream<int>& stream, int& ended, int& aborted) {
  try {
    co_await stream.next();
  } catch (const asio::system_error&) {
    ++aborted;
    throw;
  }
  ++ended;
}

TEST(TaskSetTest, RunningWorkIsCancelledByCancelAllAndWithTheSet) {
  asio::io_context io;
  auto [stream, producer] = AsyncStream<int>::make(io.get_executor());
  int ended = 0;
  int aborted = 0;
  {
    TaskSet set(io.get_executor());
    set.spawn(park(stream, ended, aborted));
    set.spawn(park(stream, ended, aborted));
    io.poll();
    producer.yield(1);  // one of them ends by itself
    ASSERT_TRUE(testing::runUntil(io, [&] { return ended == 1; }));
    set.cancelAll();
    ASSERT_TRUE(testing::runUntil(io, [&] { return aborted == 1; }));

    set.spawn(park(stream, ended, aborted));  // the set takes work again
    io.poll();
  }
  ASSERT_TRUE(testing::runUntil(io, [&] { return aborted == 2; }));
  EXPECT_EQ(ended, 1);
}

}  // namespace
}  // namespace glidemate
