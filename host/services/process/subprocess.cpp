#include "host/services/process/subprocess.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <cerrno>
#include <system_error>

extern char** environ;

namespace glidemate::host {
namespace {

[[noreturn]] void throwErrno(int code, const std::string& what) {
  throw std::system_error(code, std::generic_category(), what);
}

// Owns a descriptor until it is handed to Asio.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int release() { return std::exchange(fd, -1); }
};

struct Pipe {
  Fd read;
  Fd write;
};

Pipe makePipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throwErrno(errno, "pipe");
  Pipe pipe{Fd(ends[0]), Fd(ends[1])};
  // Our end never blocks; the program's end stays blocking as programs expect.
  ::fcntl(pipe.read.fd, F_SETFL, ::fcntl(pipe.read.fd, F_GETFL) | O_NONBLOCK);
  return pipe;
}

void keep(std::string& into, const char* data, std::size_t size, std::size_t limit) {
  const std::size_t room = into.size() < limit ? limit - into.size() : 0;
  into.append(data, std::min(size, room));
}

// Reads `pipe` to its end, keeping at most `limit` bytes.
asio::awaitable<void> readAll(asio::posix::stream_descriptor& pipe, std::string& into, std::size_t limit) {
  std::array<char, 16384> buffer;
  for (;;) {
    auto [error, size] = co_await pipe.async_read_some(asio::buffer(buffer), asio::experimental::as_tuple(asio::use_awaitable));
    keep(into, buffer.data(), size, limit);
    if (error == asio::error::operation_aborted) throw std::system_error(error);
    if (error) co_return;
  }
}

// Takes what is already in `pipe` without waiting for more.
void drainAvailable(asio::posix::stream_descriptor& pipe, std::string& into, std::size_t limit) {
  if (!pipe.is_open()) return;
  std::array<char, 16384> buffer;
  asio::error_code error;
  pipe.non_blocking(true, error);
  while (!error) {
    const std::size_t size = pipe.read_some(asio::buffer(buffer), error);
    keep(into, buffer.data(), size, limit);
  }
  pipe.close(error);
}

int statusOf(const siginfo_t& info) {
  return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

}  // namespace

struct Subprocess::State {
  explicit State(const asio::any_io_executor& executor)
      : output(executor), error(executor), exit(executor) {}

  pid_t pid = -1;
  asio::posix::stream_descriptor output;
  asio::posix::stream_descriptor error;
  // The process descriptor: readable once the program has exited.
  asio::posix::stream_descriptor exit;
  bool reaped = false;
  int exitStatus = 0;

  // Waits for the program to end (at once when the process descriptor said
  // it has). By process id: nothing else reaps our children, so the id
  // stays ours until this call.
  void reap() {
    siginfo_t info{};
    int result;
    do {
      result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED);
    } while (result != 0 && errno == EINTR);
    reaped = true;
    if (result == 0) exitStatus = statusOf(info);
  }

  // Stops the program and everything it started in its group.
  void killGroup() const { ::kill(-pid, SIGKILL); }

  asio::awaitable<void> awaitExit() {
    co_await exit.async_wait(asio::posix::stream_descriptor::wait_read, asio::use_awaitable);
    reap();
  }
};

Subprocess::Subprocess(const asio::any_io_executor& executor, const std::string& program,
                       const std::vector<std::string>& arguments)
    : state_(std::make_unique<State>(executor)) {
  Pipe output = makePipe();
  Pipe error = makePipe();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output.write.fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, error.write.fd, STDERR_FILENO);
  // Sockets and files of the host are none of the program's business.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  // Signals the host ignores (a broken pipe) would stay ignored in the
  // program; it gets the usual behaviour instead.
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) throwErrno(spawned, program);

  state_->pid = pid;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    const int code = errno;
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    state_->reaped = true;
    throwErrno(code, "pidfd_open");
  }
  state_->exit.assign(pidfd);
  state_->output.assign(output.read.release());
  state_->error.assign(error.read.release());
}

Subprocess::~Subprocess() {
  if (!state_->reaped) {
    state_->killGroup();
    state_->reap();
  }
}

pid_t Subprocess::pid() const { return state_->pid; }

asio::awaitable<Subprocess::Result> Subprocess::finish(Limits limits) {
  using namespace asio::experimental::awaitable_operators;
  State& s = *state_;
  Result result;
  asio::steady_timer deadline(s.exit.get_executor(), limits.timeout);

  const auto first = co_await ((readAll(s.output, result.standardOutput, limits.maxOutputBytes) &&
                                readAll(s.error, result.standardError, limits.maxErrorBytes)) ||
                               s.awaitExit() || deadline.async_wait(asio::use_awaitable));
  switch (first.index()) {
    case 0: {
      // Both streams ended; the program may still be on its way out.
      const auto second = co_await (s.awaitExit() || deadline.async_wait(asio::use_awaitable));
      if (second.index() == 0) break;
      s.killGroup();
      co_await s.awaitExit();
      throw TimedOut();
    }
    case 1:
      // Whatever the program wrote before it exited is in the pipes now;
      // anything it left running may hold them open, so stop at what is there.
      drainAvailable(s.output, result.standardOutput, limits.maxOutputBytes);
      drainAvailable(s.error, result.standardError, limits.maxErrorBytes);
      break;
    default:
      s.killGroup();
      co_await s.awaitExit();
      throw TimedOut();
  }
  result.exitStatus = s.exitStatus;
  co_return result;
}

}  // namespace glidemate::host
