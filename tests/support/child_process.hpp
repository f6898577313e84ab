// Test helper: a child process (a daemon a test needs) that is stopped and
// reaped when its owner goes away.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace glidemate::testing {

class ChildProcess {
 public:
  // Starts `argv` with `extraEnv` ("NAME=value") added to this process's
  // environment. With `captureStdout`, the child's stdout can be read with
  // readLine(). Throws std::runtime_error when the program cannot start.
  ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv = {},
               bool captureStdout = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line the child wrote (without the newline); blocks until it
  // comes. Empty at end of output.
  std::string readLine();
  // SIGTERM, then wait for it to exit. Safe to call twice.
  void stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string pending_;
};

}  // namespace glidemate::testing
