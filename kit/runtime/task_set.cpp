#include "kit/runtime/task_set.hpp"

#include <asio/post.hpp>
#include <cstdint>
#include <map>

#include "kit/runtime/task.hpp"

namespace glidemate {

struct TaskSet::State {
  explicit State(const asio::any_io_executor& e) : executor(e) {}
  asio::any_io_executor executor;
  std::map<std::uint64_t, Task> tasks;
  std::uint64_t nextId = 0;
};

namespace {

// Drops its task from the set once the work has ended, however it ended.
// Later, not here: destroying the task now would cancel the coroutine that
// is still running this.
class Removal {
 public:
  Removal(std::weak_ptr<TaskSet::State> set, std::uint64_t id) : set_(std::move(set)), id_(id) {}
  Removal(Removal&& other) noexcept : set_(std::move(other.set_)), id_(other.id_) {}
  Removal(const Removal&) = delete;
  Removal& operator=(const Removal&) = delete;
  Removal& operator=(Removal&&) = delete;
  ~Removal() {
    auto state = set_.lock();
    if (!state) return;
    asio::post(state->executor, [weak = set_, taskId = id_] {
      if (auto alive = weak.lock()) alive->tasks.erase(taskId);
    });
  }

 private:
  std::weak_ptr<TaskSet::State> set_;
  std::uint64_t id_;
};

// The removal lives in the coroutine's frame and acts when the frame goes.
asio::awaitable<void> removedWhenDone(asio::awaitable<void> work, [[maybe_unused]] Removal removal) {
  co_await std::move(work);
}

}  // namespace

TaskSet::TaskSet(const asio::any_io_executor& executor) : state_(std::make_shared<State>(executor)) {}

TaskSet::~TaskSet() { cancelAll(); }

void TaskSet::spawn(asio::awaitable<void> work) {
  const std::uint64_t id = state_->nextId++;
  state_->tasks.emplace(id, Task(state_->executor, removedWhenDone(std::move(work), Removal{state_, id})));
}

void TaskSet::cancelAll() {
  // Taken out first: a task's clean-up may spawn into the set.
  auto tasks = std::move(state_->tasks);
  state_->tasks.clear();
  tasks.clear();
}

}  // namespace glidemate
