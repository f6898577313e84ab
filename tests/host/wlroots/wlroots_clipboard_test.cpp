// The clipboard of a real headless sway through data control, with
// wl-copy and wl-paste (wl-clipboard) as the other clients.
#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <thread>

#include "host/services/clipboard/wlroots/wlroots_clipboard_service.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_sway.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::ChildProcess;
using glidemate::testing::HeadlessSway;
using glidemate::testing::runAwaitable;
using glidemate::testing::runProgram;

class SwayClipboardTest : public ::testing::Test {
 protected:
  SwayClipboardTest() { sway.adoptEnvironment(); }

  // Runs a program to its end while the clipboard serves from another
  // thread (this one waits on the program).
  glidemate::testing::ProgramResult runBeside(std::vector<std::string> argv) {
    auto work = asio::make_work_guard(io);
    std::thread pump([&] {
      io.restart();
      io.run();
    });
    auto result = runProgram(std::move(argv));
    work.reset();
    io.stop();
    pump.join();
    return result;
  }

  HeadlessSway sway;
  asio::io_context io;
  WlrootsClipboardService clipboard{io.get_executor(), {.display = {}, .replyTimeout = 5s}};
};

TEST_F(SwayClipboardTest, TextSetHereIsPastedElsewhereWhole) {
  // More than a pipe holds at once, so it is written as the reader reads.
  const std::string text = "héllo 漢 👋\n" + std::string(1 << 20, 'x');
  runAwaitable(io, clipboard.setText(text));
  const auto pasted = runBeside({"wl-paste", "--no-newline"});
  EXPECT_EQ(pasted.status, 0) << pasted.err;
  EXPECT_EQ(pasted.out.size(), text.size());
  EXPECT_TRUE(pasted.out == text);
  EXPECT_EQ(runAwaitable(io, clipboard.text()), text);
}

TEST_F(SwayClipboardTest, TextCopiedElsewhereIsReadWellFormed) {
  EXPECT_EQ(runAwaitable(io, clipboard.text()), std::nullopt) << "nothing copied yet";
  runAwaitable(io, clipboard.setText("ours"));

  ChildProcess copier({"wl-copy", "--foreground", "theirs é 漢 \xff"});
  // wl-copy takes the clipboard in its own time; the limit only turns a
  // hang into a failure.
  const std::string expected = "theirs é 漢 \xEF\xBF\xBD";
  std::optional<std::string> read;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (read != expected && std::chrono::steady_clock::now() < deadline) read = runAwaitable(io, clipboard.text());
  EXPECT_EQ(read, expected);
}

}  // namespace
}  // namespace glidemate::host
