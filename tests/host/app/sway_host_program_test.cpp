// The host program on sway: a real headless sway, the host choosing its
// input from the session by itself, and the command-line phone; a Wayland
// window of ours prints what arrives.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/host/services/screen_preview/jpeg_image.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wayland/headless_sway.hpp"

namespace glidemate {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::HeadlessSway;
using testing::runProgram;
using testing::TempDir;

// Only turns a hang into a failure.
constexpr auto patience = 30000ms;

class SwayHostProgram : public ::testing::Test {
 protected:
  HeadlessSway sway;
  TempDir dir;
  std::unique_ptr<ChildProcess> host;
  std::unique_ptr<ChildProcess> window;
  std::string address;
  int marks = 0;

  void SetUp() override {
    auto environment = sway.environment();
    // No GNOME to find on any bus.
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/session_bus_socket");
    environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system_bus_socket");
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", GLIDEMATE_HOST_BIN, "--no-advertise",
                                 "--json", "--data-dir", dir / "host"},
        environment, true, true);
    ASSERT_NE(host->readLineContaining("Input goes to the Wayland compositor's virtual pointer and keyboard", patience),
              "");
    bool listening = false, ready = false;
    while (!listening || !ready) {
      const std::string line = host->readLineContaining("", patience);
      ASSERT_NE(line, "") << "the host did not start serving with virtual input";
      ready = ready || line.find("Virtual pointer and keyboard ready") != std::string::npos;
      if (line.find("\"listening\"") != std::string::npos) {
        listening = true;
        address = "127.0.0.1:" + std::to_string(nlohmann::json::parse(line)["port"].get<int>());
      }
    }
    ChildProcess pairing(phone({"pair", address}), {}, true, true);
    pairing.writeLine(nlohmann::json::parse(host->readLineContaining("\"pairingCode\"", patience))["code"]);
    ASSERT_EQ(pairing.wait(), 0);

    window = testing::startWaylandTestClient(sway);
    bool presented = false, focused = false;
    while (!presented || !focused) {
      const std::string line = window->readLineContaining("", patience);
      ASSERT_NE(line, "") << "the window was not shown with the keyboard's focus";
      presented = presented || line == "presented";
      focused = focused || line == "keyboard-enter";
    }
  }

  std::vector<std::string> phone(std::vector<std::string> args) const {
    std::vector<std::string> argv{GLIDEMATE_PHONE_BIN, "--data-dir", dir / "phone"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // Sends the items, then a letter that marks their end, and returns the
  // lines the window printed until a frame drawn after the letter.
  std::vector<std::string> send(std::vector<std::string> items) {
    const std::string mark(1, static_cast<char>('a' + marks++ % 26));
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), items.begin(), items.end());
    args.insert(args.end(), {"text", mark});
    const auto sent = runProgram(phone(args));
    EXPECT_EQ(sent.status, 0) << sent.err;
    std::vector<std::string> seen;
    for (;;) {
      const std::string line = window->readLineContaining("", patience);
      if (line.empty()) {
        ADD_FAILURE() << "the window did not sync";
        return seen;
      }
      if (line == "synced") return seen;
      if (line == "text " + mark) {
        window->writeLine("sync");
        continue;
      }
      seen.push_back(line);
    }
  }

  // Where the lines last put the pointer, or {-1, -1}.
  static std::pair<double, double> lastMotion(const std::vector<std::string>& lines) {
    std::pair<double, double> last{-1, -1};
    for (const auto& line : lines) {
      std::istringstream in(line);
      std::string word;
      in >> word;
      if (word == "motion" || word == "pointer-enter") in >> last.first >> last.second;
    }
    return last;
  }

  static bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

TEST_F(SwayHostProgram, APhoneMovesClicksAndTypesOnTheDesktop) {
  // The window has the pointer once a step of one point moves it by exactly
  // one point in it.
  bool inPlace = false;
  std::pair<double, double> before{-1, -1};
  for (int attempt = 0; attempt < 50 && !inPlace; ++attempt) {
    const int step = attempt % 2 == 0 ? 1 : -1;  // never stuck at an edge
    const auto after = lastMotion(send({"move", std::to_string(step), "0"}));
    inPlace = before.first >= 0 && after == std::pair(before.first + step, before.second);
    before = after;
  }
  ASSERT_TRUE(inPlace) << "the pointer never moved exactly in the window";
  const auto from = lastMotion(send({"move", "10", "10"}));
  EXPECT_EQ(lastMotion(send({"move", "100", "50"})), std::pair(from.first + 100, from.second + 50));

  const auto clicks = send({"click", "left"});
  EXPECT_TRUE(contains(clicks, "button 272 down") && contains(clicks, "button 272 up"))
      << ::testing::PrintToString(clicks);

  const auto typed = send({"text", "é漢👋"});
  EXPECT_TRUE(contains(typed, "text é") && contains(typed, "text 漢") && contains(typed, "text 👋"))
      << ::testing::PrintToString(typed);

  EXPECT_EQ(host->stop(), 0);
}

// The laser dot and presentations go through the compositor: the dot puts
// the pointer where its place is known (the middle of the output, for a
// host that never moved it), and the focused Wayland window is the one a
// presentation is looked for in.
TEST_F(SwayHostProgram, TheLaserDotAndPresentationsFollowTheCompositor) {
  const auto placed = send({R"({"setLaserPointer":{"_0":"red"}})", "move", "10", "0"});
  EXPECT_EQ(lastMotion(placed), std::pair(HeadlessSway::width / 2.0 + 10, HeadlessSway::height / 2.0))
      << ::testing::PrintToString(placed);

  // Full screen, as the other window is: a window opened behind it would
  // never be shown.
  const auto browser =
      testing::startWaylandTestClient(sway, {"--app-id", "firefox", "--title", "Roadmap - Google Slides"});
  ASSERT_NE(browser->readLineContaining("presented", patience), "");
  // The host hears of the new window in its own time; the phone asks until
  // it has.
  std::string reply;
  for (int attempt = 0; attempt < 100 && reply.find("Google Slides") == std::string::npos; ++attempt) {
    reply = runProgram(phone({"send", address, R"({"getPresentation":{}})", "--until", "presentation"})).out;
  }
  EXPECT_NE(reply.find(R"("app":"Google Slides","isPlaying":true)"), std::string::npos) << reply;
  EXPECT_EQ(host->stop(), 0);
}

// The compositor's clipboard between a phone and other Wayland programs
// (wl-copy and wl-paste), through the host.
TEST_F(SwayHostProgram, TheClipboardTravelsBetweenThePhoneAndOtherPrograms) {
  sway.adoptEnvironment();  // for wl-copy and wl-paste
  const auto command = [&](const nlohmann::json& message) {
    const auto sent = runProgram(phone({"send", address, message.dump()}));
    EXPECT_EQ(sent.status, 0) << sent.err;
    return sent.out;
  };
  const std::string text = "Gr\u00fc\u00dfe, \u20ac5 \U0001F44B";
  command({{"setClipboard", {{"_0", text}}}});
  const auto pasted = runProgram({"wl-paste", "--no-newline"});
  EXPECT_EQ(pasted.status, 0) << pasted.err;
  EXPECT_EQ(pasted.out, text);

  ChildProcess copier({"wl-copy", "--foreground", "copied elsewhere \u2713"});
  // wl-copy takes the clipboard in its own time; the limit only turns a
  // hang into a failure.
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::string got;
  while (got.find("copied elsewhere") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    got = command(nlohmann::json::parse(R"({"getClipboard":{}})"));
  }
  EXPECT_NE(got.find(nlohmann::json("copied elsewhere \u2713").dump()), std::string::npos) << got;
}

// The phone watching sway's screen, where the window shows its quadrants.
TEST_F(SwayHostProgram, ThePhoneSeesTheScreen) {
  window->writeLine("sync");  // sway has drawn the window
  ASSERT_NE(window->readLineContaining("synced", patience), "");
  const auto watched = runProgram(phone({"preview", address, "--frames", "1", "--out", dir / "whole"}));
  ASSERT_EQ(watched.status, 0) << watched.err;
  EXPECT_EQ(watched.out.rfind("frame-00001.jpg 1280x800 ", 0), 0U) << watched.out;
  std::ifstream file(dir / "whole/frame-00001.jpg", std::ios::binary);
  const host::testing::JpegImage screen(
      std::vector<std::uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
  EXPECT_TRUE(screen.near(300, 200, host::testing::rgbOf(0xff0000)));
  EXPECT_TRUE(screen.near(1000, 200, host::testing::rgbOf(0x00ff00)));
  EXPECT_TRUE(screen.near(1000, 600, host::testing::rgbOf(0xffffff)));
  EXPECT_TRUE(screen.near(300, 600, host::testing::rgbOf(0x0000ff)));
}

}  // namespace
}  // namespace glidemate
