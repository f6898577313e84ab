#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>
#include <stdexcept>

extern char** environ;

namespace glidemate::testing {

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv,
                           bool captureStdout, bool pipeStdin) {
  // A variable given here replaces the inherited one: a program reads the
  // first of two entries with the same name.
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const bool replaced = std::any_of(extraEnv.begin(), extraEnv.end(),
                                      [&](const std::string& extra) { return nameOf(extra) == nameOf(entry); });
    if (!replaced) env.push_back(entry);
  }
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
  int inFds[2] = {-1, -1};
  if (pipeStdin) {
    if (pipe2(inFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, inFds[0], STDIN_FILENO);
  }
  const int rc =
      posix_spawnp(&pid_, argvPointers[0], &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (captureStdout) {
    close(pipeFds[1]);
    stdout_ = pipeFds[0];
  }
  if (pipeStdin) {
    close(inFds[0]);
    stdin_ = inFds[1];
  }
  if (rc != 0) {
    if (stdout_ >= 0) close(stdout_);
    if (stdin_ >= 0) close(stdin_);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
}

ChildProcess::~ChildProcess() {
  stop();
  if (stdout_ >= 0) close(stdout_);
  if (stdin_ >= 0) close(stdin_);
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

std::string ChildProcess::readLineContaining(const std::string& text) {
  for (;;) {
    std::string line = readLine();
    if (line.empty() || line.find(text) != std::string::npos) return line;
  }
}

std::string ChildProcess::readLineContaining(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      if (line.find(text) != std::string::npos) return line;
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (stdout_ < 0 || left.count() <= 0) return {};
    pollfd descriptor{stdout_, POLLIN, 0};
    if (poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(stdout_, buffer, sizeof buffer);
    if (n <= 0) return {};
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

void ChildProcess::writeLine(const std::string& line) {
  const std::string text = line + "\n";
  std::size_t written = 0;
  while (stdin_ >= 0 && written < text.size()) {
    const ssize_t n = ::write(stdin_, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

int ChildProcess::reap() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int ChildProcess::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  return reap();
}

int ChildProcess::wait() {
  if (pid_ <= 0) return -1;
  return reap();
}

ProgramResult runProgram(std::vector<std::string> argv, const std::string& input) {
  std::vector<char*> argvPointers;
  for (auto& a : argv) argvPointers.push_back(a.data());
  argvPointers.push_back(nullptr);
  int in[2];
  int out[2];
  int err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  // Small inputs fit the pipe; the program reads them when it is ready.
  [[maybe_unused]] const auto ignored = ::write(in[1], input.data(), input.size());
  close(in[1]);
  ProgramResult result{-1, {}, {}};
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace glidemate::testing
