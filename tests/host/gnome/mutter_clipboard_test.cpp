// The clipboard through GNOME's remote-desktop session, against a real
// headless mutter: what the host sets, a Wayland window of ours pastes;
// what the window copies, the host reads; and it all comes back with
// mutter.
#include "host/gnome/mutter_clipboard.hpp"

#include <gtest/gtest.h>

#include <csignal>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <functional>
#include <thread>

#include "host/gnome/mutter_remote_desktop.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_mutter.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::ChildProcess;
using glidemate::testing::HeadlessMutter;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;

constexpr auto patience = 30000ms;

// N bytes of "abc…z" repeated, as the window's "copy-large N" makes them.
std::string alphabet(std::size_t size) {
  std::string text(size, 'a');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

class MutterClipboardTest : public ::testing::Test {
 protected:
  MutterClipboardTest() : connection(DBusConnection::openAddress(io.get_executor(), mutter.sessionBus().address())) {
    // As the host programs do: a reader that closes its end early must not
    // kill the writer.
    std::signal(SIGPIPE, SIG_IGN);
    mutter.adoptEnvironment();
    session = std::make_unique<MutterRemoteDesktop>(io.get_executor(), connection, logger,
                                                    MutterRemoteDesktop::Options{.screenCast = false});
    clipboard = std::make_unique<MutterClipboard>(io.get_executor(), *session, logger,
                                                  MutterClipboard::Options{.maxReadBytes = 150000});
  }

  ~MutterClipboardTest() override {
    clipboard.reset();
    session.reset();
    io.restart();
    io.poll();
  }

  void waitForSession() { ASSERT_TRUE(runUntil(io, [&] { return session->isReady(); })); }

  // The window, once it has the keyboard's focus (which copying needs).
  void startClient() {
    client = glidemate::testing::startWaylandTestClient(mutter);
    ASSERT_EQ(client->readLineContaining("keyboard-enter", patience), "keyboard-enter");
  }

  // Waits for the window's answer while the host serves mutter's requests
  // on another thread; the test touches nothing of the host meanwhile.
  std::string answer(const std::string& command, const std::string& prefix) {
    auto work = asio::make_work_guard(io);
    io.restart();
    std::thread serving([&] { io.run(); });
    client->writeLine(command);
    std::string line = client->readLineContaining(prefix, patience);
    work.reset();
    io.stop();
    serving.join();
    return line;
  }

  // What the host reads once mutter has told it of the window's copy (its
  // notice may come just after the window hears that the copy was taken).
  std::optional<std::string> readUntil(const std::string& expected) {
    std::optional<std::string> text;
    runUntil(io, [&] {
      text = runAwaitable(io, clipboard->text());
      return text == expected;
    });
    return text;
  }

  void setText(std::string text) { runAwaitable(io, clipboard->setText(std::move(text))); }

  HeadlessMutter mutter;
  asio::io_context io;
  std::shared_ptr<DBusConnection> connection;
  NullLogger logger;
  std::unique_ptr<MutterRemoteDesktop> session;
  std::unique_ptr<MutterClipboard> clipboard;
  std::unique_ptr<ChildProcess> client;
};

TEST_F(MutterClipboardTest, TextTravelsBothWaysBetweenTheHostAndAWindow) {
  waitForSession();
  startClient();
  EXPECT_EQ(runAwaitable(io, clipboard->text()), std::nullopt) << "nobody has copied anything yet";

  const std::string text = "héllo 漢👋\nsecond line";
  setText(text);
  EXPECT_EQ(answer("paste", "clipboard"), "clipboard " + std::to_string(text.size()) + " héllo 漢👋\\nsecond line");
  EXPECT_EQ(runAwaitable(io, clipboard->text()), "héllo 漢👋\nsecond line") << "our own text, from memory";

  EXPECT_EQ(answer("copy from the window ✓", "copied"), "copied");
  EXPECT_EQ(readUntil("from the window ✓"), "from the window ✓");

  // Taken back by the host, and read again by the window.
  setText("again");
  EXPECT_EQ(answer("paste", "clipboard"), "clipboard 5 again");
}

TEST_F(MutterClipboardTest, LargeTextsGoThroughWholeAndReadsStopAtTheLimit) {
  waitForSession();
  startClient();
  const std::string largest = alphabet(30000);
  setText(largest);
  const std::string pasted = answer("paste", "clipboard");
  EXPECT_TRUE(pasted == "clipboard 30000 " + largest) << pasted.substr(0, 40) << "… (" << pasted.size() << " bytes)";

  // More than a pipe holds at once, read in many pieces.
  EXPECT_EQ(answer("copy-large 120000", "copied"), "copied");
  EXPECT_TRUE(readUntil(alphabet(120000)) == alphabet(120000));

  EXPECT_EQ(answer("copy-large 400000", "copied"), "copied");
  EXPECT_TRUE(readUntil(alphabet(150000)) == alphabet(150000)) << "cut at the reading limit";
}

// mutter 43 serves a session's next read only once the owner has let go
// of the one before, which a program does when its offer is replaced.
TEST_F(MutterClipboardTest, AnOwnerThatNeverAnswersTimesOutAndTheNextOwnerIsRead) {
  clipboard.reset();  // the session has one observer at a time
  clipboard = std::make_unique<MutterClipboard>(io.get_executor(), *session, logger,
                                                MutterClipboard::Options{.transferTimeout = 300ms});
  waitForSession();
  startClient();
  EXPECT_EQ(answer("copy-silent never sent", "copied"), "copied");
  EXPECT_EQ(runAwaitable(io, clipboard->text()), std::nullopt);

  EXPECT_EQ(answer("copy sent", "copied"), "copied");
  EXPECT_EQ(readUntil("sent"), "sent");
}

TEST_F(MutterClipboardTest, TheClipboardComesBackWithMutter) {
  waitForSession();
  setText("before");
  client.reset();
  mutter.stopMutter();
  ASSERT_TRUE(runUntil(io, [&] { return !session->isReady(); }));
  EXPECT_THROW(setText("while gone"), ClipboardService::Failure);
  EXPECT_EQ(runAwaitable(io, clipboard->text()), std::nullopt);

  mutter.startMutter();
  waitForSession();
  startClient();
  setText("after");
  EXPECT_EQ(answer("paste", "clipboard"), "clipboard 5 after");
  EXPECT_EQ(answer("copy back", "copied"), "copied");
  EXPECT_EQ(readUntil("back"), "back");
}

}  // namespace
}  // namespace glidemate::host
