// Test helper: a child process (a daemon a test needs) that is stopped and
// reaped when its owner goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace glidemate::testing {

class ChildProcess {
 public:
  // Starts `argv` with `extraEnv` ("NAME=value") added to this process's
  // environment, in place of any inherited variable of the same name. With `captureStdout`, the child's stdout can be read with
  // readLine(); with `pipeStdin`, writeLine() feeds its stdin. Throws
  // std::runtime_error when the program cannot start.
  ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv = {},
               bool captureStdout = false, bool pipeStdin = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line the child wrote (without the newline); blocks until it
  // comes. Empty at end of output.
  std::string readLine();
  // The next line that contains `text`; the lines before it are skipped.
  // Empty at end of output.
  std::string readLineContaining(const std::string& text);
  // The same, but empty once `limit` has passed without such a line. The
  // limit only turns a hang into a failure; no passing test comes near it.
  std::string readLineContaining(const std::string& text, std::chrono::milliseconds limit);
  void writeLine(const std::string& line);
  // SIGTERM, then wait for it to exit. Returns its exit status (128 + the
  // signal for one that was killed); -1 when it had already been reaped.
  int stop();
  // Waits for it to exit by itself; the exit status as stop() gives it.
  int wait();
  pid_t pid() const { return pid_; }

 private:
  int reap();

  pid_t pid_ = -1;
  int stdout_ = -1;
  int stdin_ = -1;
  std::string pending_;
};

// Runs a program to its end and collects what it printed.
struct ProgramResult {
  int status;
  std::string out;
  std::string err;
};
ProgramResult runProgram(std::vector<std::string> argv, const std::string& input = {});

}  // namespace glidemate::testing
