#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <stdexcept>

extern char** environ;

namespace glidemate::testing {

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv,
                           bool captureStdout) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argvPointers;
  for (auto& a : argv) argvPointers.push_back(a.data());
  argvPointers.push_back(nullptr);
  std::vector<char*> envPointers;
  for (auto& e : env) envPointers.push_back(e.data());
  envPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeFds[2] = {-1, -1};
  if (captureStdout) {
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  }
  const int rc =
      posix_spawnp(&pid_, argvPointers[0], &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (captureStdout) {
    close(pipeFds[1]);
    stdout_ = pipeFds[0];
  }
  if (rc != 0) {
    if (stdout_ >= 0) close(stdout_);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
}

ChildProcess::~ChildProcess() {
  stop();
  if (stdout_ >= 0) close(stdout_);
}

std::string ChildProcess::readLine() {
  for (;;) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    char buffer[256];
    const ssize_t n = stdout_ >= 0 ? read(stdout_, buffer, sizeof buffer) : 0;
    if (n <= 0) return std::exchange(pending_, {});
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

void ChildProcess::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace glidemate::testing
