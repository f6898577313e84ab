#include "kit/runtime/background_jobs.hpp"

#include <asio/error.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/prefer.hpp>
#include <asio/post.hpp>
#include <asio/system_error.hpp>
#include <cstdint>
#include <exception>
#include <map>
#include <thread>

#include "kit/runtime/notifier.hpp"

namespace glidemate {

struct BackgroundJobs::Job {
  Job(const asio::any_io_executor& executor, std::function<void(StopFlag)> w, std::function<void()> i)
      : work(std::move(w)), interrupt(std::move(i)), ended(executor) {}
  ~Job() {
    if (thread.joinable()) stopAndJoin();
  }

  void stopAndJoin() {
    stop = true;
    if (interrupt) interrupt();
    thread.join();
  }

  // Both stay here, on the executor's side, so that whatever they hold is
  // released there and not on the worker thread.
  std::function<void(StopFlag)> work;
  std::function<void()> interrupt;
  std::atomic<bool> stop = false;
  // Written by the worker before it hands the job back.
  std::exception_ptr failure;
  // Executor side only.
  Notifier ended;
  bool finished = false;
  bool abandoned = false;
  std::thread thread;
};

struct BackgroundJobs::State {
  explicit State(asio::any_io_executor e) : executor(std::move(e)) {}

  // The worker of job `id` has returned; runs on the executor.
  void finish(std::uint64_t id) {
    const auto it = jobs.find(id);
    if (it == jobs.end()) return;
    const auto job = it->second;
    jobs.erase(it);
    job->thread.join();
    job->finished = true;
    job->ended.notifyAll();
  }

  asio::any_io_executor executor;
  std::map<std::uint64_t, std::shared_ptr<Job>> jobs;
  std::uint64_t nextId = 0;
};

BackgroundJobs::BackgroundJobs(asio::any_io_executor executor)
    : state_(std::make_shared<State>(std::move(executor))) {}

BackgroundJobs::~BackgroundJobs() {
  for (const auto& [id, job] : state_->jobs) {
    job->stopAndJoin();
    job->finished = true;
    job->abandoned = true;
    job->ended.notifyAll();
  }
}

std::size_t BackgroundJobs::unfinished() const { return state_->jobs.size(); }

asio::awaitable<void> BackgroundJobs::runErased(std::function<void(StopFlag)> work,
                                                std::function<void()> interrupt) {
  const auto id = state_->nextId++;
  auto job = std::make_shared<Job>(state_->executor, std::move(work), std::move(interrupt));
  // The worker sees the job through a plain pointer: the job is joined
  // before anyone lets it go. It reaches the state only through the
  // executor, and only while the state exists.
  std::weak_ptr<State> weakState = state_;
  // The executor counts the job as outstanding work until its result is
  // handed back, so a context does not run out of work while a job runs.
  auto tracked = asio::prefer(state_->executor, asio::execution::outstanding_work.tracked);
  job->thread = std::thread([raw = job.get(), weakState, id, executor = std::move(tracked)]() mutable {
    try {
      raw->work(raw->stop);
    } catch (...) {
      raw->failure = std::current_exception();
    }
    asio::post(executor, [weakState = std::move(weakState), id] {
      if (auto state = weakState.lock()) state->finish(id);
    });
  });
  state_->jobs.emplace(id, job);

  try {
    while (!job->finished) co_await job->ended.wait();
  } catch (...) {
    // The caller was cancelled: the job is told to stop and is joined once
    // its thread returns, without the caller waiting for it.
    if (!job->finished) {
      job->stop = true;
      if (job->interrupt) job->interrupt();
    }
    throw;
  }
  if (job->abandoned) throw asio::system_error(asio::error::operation_aborted);
  if (job->failure) std::rethrow_exception(job->failure);
}

}  // namespace glidemate
