#include "host/services/power/script/pmset_display_sleeper.hpp"

#include <algorithm>
#include <memory>

#include "host/services/process/subprocess.hpp"

namespace glidemate::host {

PmsetDisplaySleeper::PmsetDisplaySleeper(asio::any_io_executor executor, std::string program)
    : executor_(std::move(executor)), program_(std::move(program)) {}

void PmsetDisplaySleeper::sleepDisplay() {
  std::erase_if(running_, [](const Task& task) { return task.isDone(); });
  auto process = std::make_unique<Subprocess>(executor_, program_, std::vector<std::string>{"displaysleepnow"});
  running_.emplace_back(executor_, [](std::unique_ptr<Subprocess> p) -> asio::awaitable<void> {
    co_await p->finish({});
  }(std::move(process)));
}

}  // namespace glidemate::host
