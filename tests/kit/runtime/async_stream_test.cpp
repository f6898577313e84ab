#include "kit/runtime/async_stream.hpp"

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/use_awaitable.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "kit/runtime/task.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using testing::runAwaitable;
using testing::driveUntil;

// Reads until the stream ends, recording what arrives.
asio::awaitable<void> drain(AsyncStream<int>& stream, std::vector<int>& seen, bool& ended) {
  while (auto value = co_await stream.next()) {
    seen.push_back(*value);
  }
  ended = true;
}

TEST(AsyncStream, DeliversBufferedValuesInOrderAndThenEndsAfterFinish) {
  asio::io_context context;
  auto [stream, producer] = AsyncStream<int>::make(context.get_executor());
  producer.yield(1);
  producer.yield(2);
  producer.yield(3);
  producer.finish();
  producer.yield(4);  // after finish: ignored

  std::vector<int> seen;
  bool ended = false;
  runAwaitable(context, drain(stream, seen, ended));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(ended);
}

TEST(AsyncStream, WaitingConsumerIsWokenByEachValueAndByFinish) {
  asio::io_context context;
  auto [stream, producer] = AsyncStream<int>::make(context.get_executor());
  std::vector<int> seen;
  bool ended = false;
  Task consumer(context.get_executor(), drain(stream, seen, ended));

  context.poll();
  EXPECT_TRUE(seen.empty());
  producer.yield(7);
  driveUntil(context, [&] { return seen.size() == 1; });
  producer.yield(8);
  producer.finish();
  driveUntil(context, [&] { return ended; });
  EXPECT_EQ(seen, (std::vector<int>{7, 8}));
}

TEST(AsyncStream, DestroyingTheProducerEndsTheConsumersWait) {
  asio::io_context context;
  auto made = AsyncStream<int>::make(context.get_executor());
  AsyncStream<int> stream = std::move(made.first);
  auto producer = std::make_unique<StreamProducer<int>>(std::move(made.second));
  std::vector<int> seen;
  bool ended = false;
  Task consumer(context.get_executor(), drain(stream, seen, ended));
  context.poll();

  producer->yield(5);
  producer.reset();
  driveUntil(context, [&] { return ended; });
  EXPECT_EQ(seen, (std::vector<int>{5}));
}

TEST(AsyncStream, CancelledConsumerStopsCleanlyAndLeavesLaterValuesForTheNextRead) {
  asio::io_context context;
  auto made = AsyncStream<int>::make(context.get_executor());
  auto& stream = made.first;
  auto& producer = made.second;
  bool aborted = false;
  bool returned = false;
  auto consumer = [&]() -> asio::awaitable<void> {
    try {
      co_await stream.next();
      returned = true;
    } catch (const asio::system_error& e) {
      aborted = e.code() == asio::error::operation_aborted;
    }
  };
  Task task(context.get_executor(), consumer());
  context.poll();
  task.cancel();
  driveUntil(context, [&] { return task.isDone(); });
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(returned);

  producer.yield(9);
  EXPECT_EQ(runAwaitable(context, stream.next()), std::optional<int>(9));
}

TEST(AsyncStream, ValuesAreDiscardedOnceTheConsumerIsGone) {
  asio::io_context context;
  auto made = AsyncStream<std::shared_ptr<int>>::make(context.get_executor());
  auto stream = std::make_unique<AsyncStream<std::shared_ptr<int>>>(std::move(made.first));
  auto value = std::make_shared<int>(1);
  made.second.yield(value);
  EXPECT_EQ(value.use_count(), 2);

  stream.reset();
  EXPECT_EQ(value.use_count(), 1);
  made.second.yield(value);
  EXPECT_EQ(value.use_count(), 1);
}

}  // namespace
}  // namespace glidemate
