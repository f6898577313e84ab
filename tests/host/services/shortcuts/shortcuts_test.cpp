// Shortcuts run as real child processes: scripts in a temporary folder.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <fstream>

#include "host/services/shortcuts/command_line_shortcut_tool.hpp"
#include "host/services/shortcuts/script_folder_shortcut_tool.hpp"
#include "host/services/shortcuts/shortcuts_service.hpp"
#include "kit/runtime/task.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;
using glidemate::testing::TempDir;

constexpr mode_t executable = 0755;

// The failure message of running `name`, or nothing when it succeeded.
std::optional<std::string> failureOf(asio::io_context& io, ShortcutsService& service, const std::string& name) {
  try {
    runAwaitable(io, service.run(name));
  } catch (const ShortcutsService::Failure& e) {
    return e.message();
  }
  return std::nullopt;
}

// Waits for a process that is not ours to end; true once it has.
bool ends(pid_t pid) {
  const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (descriptor < 0) return errno == ESRCH;
  pollfd exited{descriptor, POLLIN, 0};
  const bool ended = ::poll(&exited, 1, 20000) == 1;
  ::close(descriptor);
  return ended;
}

bool isGone(pid_t pid) {
  // Reaped by us (no longer our child) and not running any more.
  return ::waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD && ::kill(pid, 0) < 0 && errno == ESRCH;
}

class ScriptFolderTest : public ::testing::Test {
 protected:
  asio::io_context io;
  TempDir folder;
  ShortcutsService service{
      std::make_unique<ScriptFolderShortcutTool>(io.get_executor(), folder / "shortcuts", Subprocess::Limits{.timeout = 30s})};
};

TEST_F(ScriptFolderTest, ListsTheExecutableFilesInNameOrder) {
  EXPECT_EQ(runAwaitable(io, service.list()), std::vector<std::string>{}) << "no folder yet";

  folder.write("shortcuts/backup", "#!/bin/sh\n", executable);
  folder.write("shortcuts/Alpha", "#!/bin/sh\n", executable);
  folder.write("shortcuts/Zoom in", "#!/bin/sh\n", executable);
  folder.write("shortcuts/notes.txt", "not a program\n");
  folder.write("shortcuts/.hidden", "#!/bin/sh\n", executable);
  folder.write("shortcuts/nested/inner", "#!/bin/sh\n", executable);
  EXPECT_EQ(runAwaitable(io, service.list()), (std::vector<std::string>{"Alpha", "backup", "Zoom in"}));
}

TEST_F(ScriptFolderTest, RunsSucceedOrFailWithTheScriptsOwnWords) {
  // A shortcut gets no arguments and an empty standard input.
  folder.write("shortcuts/Quiet", "#!/bin/sh\n[ $# -eq 0 ] || exit 3\nif read -r line; then exit 4; fi\necho fine\n",
               executable);
  folder.write("shortcuts/Silent failure", "#!/bin/sh\nexit 1\n", executable);
  folder.write("shortcuts/Disk", "#!/bin/sh\nprintf '  \\n Disk full\\t\\n\\n' >&2\nexit 2\n", executable);
  folder.write("shortcuts/Garbled", "#!/bin/sh\nprintf 'bad \\377 bytes' >&2\nexit 1\n", executable);
  folder.write("shortcuts/Killed", "#!/bin/sh\nkill -9 $$\n", executable);
  folder.write("shortcuts/Plain text", "echo hi\n");
  folder.write(".outside", "#!/bin/sh\n", executable);

  struct Case {
    std::string name;
    std::optional<std::string> failure;
  };
  const std::vector<Case> cases{
      {"Quiet", std::nullopt},
      {"Silent failure", ShortcutsService::didNotFinish},
      {"Disk", "Disk full"},
      {"Garbled", ShortcutsService::didNotFinish},
      {"Killed", ShortcutsService::didNotFinish},
      {"Nope", "There is no shortcut called “Nope”."},
      {"Plain text", "The shortcut “Plain text” can't run: its file is not an executable program."},
      {"../.outside", "“../.outside” is not the name of a shortcut."},
      {".hidden", "“.hidden” is not the name of a shortcut."},
      {"", "“” is not the name of a shortcut."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failureOf(io, service, c.name), c.failure) << c.name;
  }
}

TEST_F(ScriptFolderTest, AFloodOnStandardErrorIsReadAlongAndCutShort) {
  // 10 MB: far more than a pipe holds, so the script only finishes if its
  // error stream is read while its output stream is too.
  folder.write("shortcuts/Flood", "#!/bin/sh\nhead -c 10000000 /dev/zero | tr '\\0' 'x' >&2\necho out\nexit 1\n",
               executable);
  const auto message = failureOf(io, service, "Flood");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->size(), ShortcutsService::maxMessageBytes);
  EXPECT_EQ(message->substr(0, 3), "xxx");
  EXPECT_EQ(message->substr(message->size() - 3), "…");
}

TEST_F(ScriptFolderTest, WhatAShortcutLeavesRunningDoesNotHoldItUp) {
  // The background program keeps the output pipe open after the script is done.
  folder.write("shortcuts/Launch", "#!/bin/sh\nsleep 1000 2>/dev/null &\necho $! > \"$0.pid\"\nexit 0\n", executable);
  EXPECT_EQ(failureOf(io, service, "Launch"), std::nullopt);
  pid_t background = 0;
  std::ifstream(folder / "shortcuts/Launch.pid") >> background;
  ASSERT_GT(background, 0);
  ::kill(background, SIGKILL);
}

TEST(ShortcutTimeOut, AShortcutThatNeverEndsIsStoppedWithWhatItStarted) {
  asio::io_context io;
  TempDir folder;
  folder.write("Forever", "#!/bin/sh\nsleep 1000 &\necho $! > \"$0.pid\"\nwait\n", executable);
  ShortcutsService service(
      std::make_unique<ScriptFolderShortcutTool>(io.get_executor(), folder.path(), Subprocess::Limits{.timeout = 200ms}));
  EXPECT_EQ(failureOf(io, service, "Forever"), ShortcutsService::tookTooLong);
  pid_t background = 0;
  std::ifstream(folder / "Forever.pid") >> background;
  ASSERT_GT(background, 0);
  // Killed with its group (whoever adopted it reaps it).
  EXPECT_TRUE(ends(background));
}

TEST(Subprocess, AProgramStillRunningWhenTheHostStopsIsKilledAndReaped) {
  asio::io_context io;
  pid_t pid = -1;
  Task running(io.get_executor(), [](asio::any_io_executor executor, pid_t& started) -> asio::awaitable<void> {
    Subprocess process(executor, "/bin/sleep", {"1000"});
    started = process.pid();
    co_await process.finish({});
  }(io.get_executor(), pid));
  ASSERT_TRUE(runUntil(io, [&] { return pid > 0; }));
  running.cancel();
  ASSERT_TRUE(runUntil(io, [&] { return running.isDone(); }));
  EXPECT_TRUE(isGone(pid));

  // And when the executor itself goes away with the task in it.
  {
    asio::io_context other;
    pid = -1;
    asio::co_spawn(other, [](asio::any_io_executor executor, pid_t& started) -> asio::awaitable<void> {
      Subprocess process(executor, "/bin/sleep", {"1000"});
      started = process.pid();
      co_await process.finish({});
    }(other.get_executor(), pid), asio::detached);
    ASSERT_TRUE(runUntil(other, [&] { return pid > 0; }));
  }
  EXPECT_TRUE(isGone(pid));
}

TEST(CommandLineShortcutTool, AsksTheProgramToListAndRun) {
  asio::io_context io;
  TempDir folder;
  const auto program = folder.write("shortcuts",
                                    "#!/bin/sh\n"
                                    "if [ \"$1\" = list ]; then printf '  Focus  \\n\\n\\tBackup\\n \\n'; exit 0; fi\n"
                                    "echo \"no shortcut named $2\" >&2\nexit 1\n",
                                    executable);
  ShortcutsService service(std::make_unique<CommandLineShortcutTool>(io.get_executor(), program.string()));
  EXPECT_EQ(runAwaitable(io, service.list()), (std::vector<std::string>{"Focus", "Backup"}));
  EXPECT_EQ(failureOf(io, service, "Mood lights"), "no shortcut named Mood lights");

  ShortcutsService without(std::make_unique<CommandLineShortcutTool>(io.get_executor(), folder / "absent"));
  EXPECT_EQ(runAwaitable(io, without.list()), std::vector<std::string>{});
  EXPECT_THROW(runAwaitable(io, without.run("Focus")), std::system_error);
}

}  // namespace
}  // namespace glidemate::host
