// The clipboard against a private X server, with another X client (a
// separate process) that owns or reads the CLIPBOARD selection.
// gtest first: Xlib's macros (None) would break its templates.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "host/services/clipboard/x11/x11_clipboard_service.hpp"

#include <asio/io_context.hpp>
#include <fstream>
#include <future>

#include "tests/support/child_process.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::ChildProcess;
using glidemate::testing::ProgramResult;
using glidemate::testing::runAwaitable;

// Multi-byte text of exactly `bytes` bytes.
std::string textOf(std::size_t bytes) {
  std::string text;
  while (text.size() + 9 <= bytes) text += "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x91\x8B";  // ü€👋
  return text + std::string(bytes - text.size(), 'x');
}

// Compares long texts without printing them.
::testing::AssertionResult sameText(const std::optional<std::string>& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << (actual ? std::to_string(actual->size()) + " bytes" : "no text")
                                       << " instead of the " << expected.size() << " expected";
}

class X11ClipboardServiceTest : public ::testing::Test {
 protected:
  testing::XvfbDisplay xvfb;
  glidemate::testing::TempDir dir;
  asio::io_context io;
  std::shared_ptr<X11DesktopConnection> connection = X11DesktopConnection::open(io.get_executor(), xvfb.name());
  std::unique_ptr<X11ClipboardService> clipboard;

  void SetUp() override {
    // The peer finds the server as any program would.
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    use({});
  }

  void use(X11ClipboardService::Options options) {
    clipboard.reset();
    clipboard = std::make_unique<X11ClipboardService>(connection, options);
  }

  void set(const std::string& text) { runAwaitable(io, clipboard->setText(text)); }
  std::optional<std::string> get() { return runAwaitable(io, clipboard->text()); }

  // Runs the peer to its end while this thread answers for the clipboard.
  ProgramResult peer(std::vector<std::string> args) {
    args.insert(args.begin(), X_CLIPBOARD_PEER);
    auto result = std::async(std::launch::async, [args] { return glidemate::testing::runProgram(args); });
    EXPECT_TRUE(glidemate::testing::runUntil(
        io, [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return result.get();
  }

  std::string read(const std::string& target = "UTF8_STRING") {
    const auto result = peer({"read", target});
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
  }

  // A peer owning the clipboard with `bytes` until it loses it.
  std::unique_ptr<ChildProcess> owner(const std::string& bytes, std::vector<std::string> flags = {}) {
    const std::string file = dir / ("owned" + std::to_string(owners_++));
    std::ofstream(file, std::ios::binary) << bytes;
    std::vector<std::string> argv{X_CLIPBOARD_PEER, "own", file};
    argv.insert(argv.end(), flags.begin(), flags.end());
    auto process = std::make_unique<ChildProcess>(argv, std::vector<std::string>{}, true);
    EXPECT_EQ(process->readLine(), "owned");
    return process;
  }

 private:
  int owners_ = 0;
};

TEST_F(X11ClipboardServiceTest, OurTextIsServedInEveryFormItOffers) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e, \xE2\x82\xAC" "5 \xF0\x9F\x91\x8B";
  set(text);
  EXPECT_EQ(read(), text);
  EXPECT_EQ(read("text/plain;charset=utf-8"), text);
  EXPECT_EQ(read("STRING"), "Gr\xFC\xDF" "e, ?5 ?");
  const std::string targets = read("TARGETS");
  for (const char* target : {"TARGETS\n", "UTF8_STRING\n", "STRING\n", "text/plain;charset=utf-8\n"}) {
    EXPECT_NE(targets.find(target), std::string::npos) << targets;
  }
  const auto refused = peer({"read", "image/png"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(get(), text);
}

TEST_F(X11ClipboardServiceTest, LargeTextsGoInPiecesBothWays) {
  use({.incrementalChunkBytes = 4096});
  const std::string ours = textOf(30000);
  set(ours);
  // A reader that goes away after asking for the first piece leaves
  // requests for a window that no longer exists; serving carries on.
  const auto abandoned = peer({"read", "--abandon"});
  EXPECT_EQ(abandoned.status, 0) << abandoned.err;
  EXPECT_TRUE(sameText(read(), ours));

  const std::string theirs = textOf(30001);
  const auto process = owner(theirs, {"--chunk", "4096"});
  EXPECT_TRUE(sameText(get(), theirs));
}

TEST_F(X11ClipboardServiceTest, ReadsWhatAnotherClientOwns) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> flags;
    std::string text;
  };
  const std::vector<Case> cases{
      {"UTF-8", "na\xC3\xAFve \xE2\x9C\x93", {}, "na\xC3\xAFve \xE2\x9C\x93"},
      {"ill-formed UTF-8", "caf\xC3 \xFF", {}, "caf\xEF\xBF\xBD \xEF\xBF\xBD"},
      {"Latin-1 only", "caf\xE9", {"--string-only"}, "caf\xC3\xA9"},
      {"empty", "", {}, ""},
  };
  for (const auto& c : cases) {
    const auto process = owner(c.bytes, c.flags);
    EXPECT_EQ(get(), c.text) << c.what;
  }
}

TEST_F(X11ClipboardServiceTest, TheSelectionChangesHands) {
  set("ours");
  const auto process = owner("theirs");
  EXPECT_EQ(get(), "theirs");
  set("ours again");
  EXPECT_EQ(process->readLine(), "lost");
  EXPECT_EQ(read(), "ours again");
  EXPECT_EQ(get(), "ours again");
}

TEST_F(X11ClipboardServiceTest, NoOwnerOrASilentOneReadsAsNoText) {
  use({.replyTimeout = std::chrono::milliseconds(100)});
  EXPECT_EQ(get(), std::nullopt);
  const auto silent = owner("never sent", {"--silent"});
  EXPECT_EQ(get(), std::nullopt);
  set("still works");
  EXPECT_EQ(silent->readLine(), "lost");
  EXPECT_EQ(read(), "still works");
}

}  // namespace
}  // namespace glidemate::host
