#pragma once

#include <sys/types.h>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace glidemate::host {

// A program the host runs on someone's behalf (a shortcut, a system tool),
// driven from the main executor: its standard output and standard error are
// read concurrently through pipes and its exit is waited on through a
// process descriptor, so nothing blocks and no signal handler is needed.
// Standard input is the null device. The program runs in a process group
// of its own, so that a time-out stops whatever it started along with it.
//
// Whoever holds the Subprocess owns the process: destroying it while the
// program still runs (the host stopping, the awaiting task cancelled) kills
// the group and reaps the child, so no zombie is left behind.
class Subprocess {
 public:
  struct Result {
    // The program's exit code, or 128 + the signal that ended it.
    int exitStatus = 0;
    std::string standardOutput;
    std::string standardError;
  };

  struct Limits {
    std::chrono::steady_clock::duration timeout = std::chrono::seconds(30);
    // What is kept of each stream; anything beyond is read and dropped so
    // that the program never stalls on a full pipe.
    std::size_t maxOutputBytes = std::size_t{1} << 20;
    std::size_t maxErrorBytes = std::size_t{64} << 10;
  };

  // The program did not finish within its time-out; it has been killed,
  // with its process group, and reaped.
  class TimedOut : public std::runtime_error {
   public:
    TimedOut() : std::runtime_error("the program did not finish in time") {}
  };

  // Starts `program` (a path; no search) with `arguments`. Throws
  // std::system_error when it cannot be started: missing, not executable,
  // no resources.
  Subprocess(const asio::any_io_executor& executor, const std::string& program,
             const std::vector<std::string>& arguments);
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t pid() const;

  // Collects both streams and the exit status. The result is ready once the
  // program has exited: what it wrote before exiting is all there, while
  // whatever it left running in the background may keep the pipes (they are
  // closed on our side). Throws TimedOut. Call it once.
  asio::awaitable<Result> finish(Limits limits);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace glidemate::host
