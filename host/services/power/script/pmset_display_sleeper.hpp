#pragma once

#include <asio/any_io_executor.hpp>
#include <string>
#include <vector>

#include "host/services/power/display_sleeper.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {

// Turns the display off with "pmset displaysleepnow", started and not
// waited for; only a failure to start it is reported. The sleeper reaps the
// program in the background (and stops it if the sleeper goes first).
class PmsetDisplaySleeper final : public DisplaySleeper {
 public:
  static constexpr const char* systemProgram = "/usr/bin/pmset";

  explicit PmsetDisplaySleeper(asio::any_io_executor executor, std::string program = systemProgram);

  // Throws std::system_error when the program can't be started.
  void sleepDisplay() override;

 private:
  asio::any_io_executor executor_;
  std::string program_;
  std::vector<Task> running_;
};

}  // namespace glidemate::host
