// The host program on a GNOME Wayland session: a real headless mutter, the
// host choosing its input from the session by itself, and the command-line
// phone; a Wayland window of ours prints what arrives.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/host/services/screen_preview/jpeg_image.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wayland/headless_mutter.hpp"

namespace glidemate {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::HeadlessMutter;
using testing::runProgram;
using testing::TempDir;

// Only turns a hang into a failure.
constexpr auto patience = 30000ms;

struct Seen {
  std::vector<std::string> lines;
  // Where the pointer last was, or {-1, -1}.
  std::pair<double, double> lastMotion{-1, -1};
};

class GnomeHostProgram : public ::testing::Test {
 protected:
  HeadlessMutter mutter;
  TempDir dir;
  std::unique_ptr<ChildProcess> host;
  std::unique_ptr<ChildProcess> window;
  std::string address;
  int marks = 0;

  void SetUp() override {
    auto environment = mutter.environment();
    // Never the machine's own Bluetooth or keyboard layout.
    environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system_bus_socket");
    // Diagnostics joined to the status lines, to see the host's choice.
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", GLIDEMATE_HOST_BIN, "--no-advertise",
                                 "--json", "--data-dir", dir / "host"},
        environment, true, true);
    ASSERT_NE(host->readLineContaining("Input goes to GNOME's remote desktop", patience), "");
    bool listening = false, ready = false;
    while (!listening || !ready) {
      const std::string line = host->readLineContaining("", patience);
      ASSERT_NE(line, "") << "the host did not start serving with a session";
      ready = ready || line.find("session ready") != std::string::npos;
      if (line.find("\"listening\"") != std::string::npos) {
        listening = true;
        address = "127.0.0.1:" + std::to_string(nlohmann::json::parse(line)["port"].get<int>());
      }
    }
    ChildProcess pairing(phone({"pair", address}), {}, true, true);
    pairing.writeLine(nlohmann::json::parse(host->readLineContaining("\"pairingCode\"", patience))["code"]);
    ASSERT_EQ(pairing.wait(), 0);

    window = testing::startWaylandTestClient(mutter);
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

  // Sends the items, then a letter that marks their end, and returns what
  // the window saw until then: once the letter has arrived, mutter has
  // taken in all before it, but it hands motion on only at its next frame,
  // which the window's sync waits for.
  Seen send(std::vector<std::string> items) {
    const std::string mark(1, static_cast<char>('a' + marks++ % 26));
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), items.begin(), items.end());
    args.insert(args.end(), {"text", mark});
    const auto sent = runProgram(phone(args));
    EXPECT_EQ(sent.status, 0) << sent.err;
    Seen seen;
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
      seen.lines.push_back(line);
      std::istringstream in(line);
      std::string word;
      in >> word;
      if (word == "motion" || word == "pointer-enter") in >> seen.lastMotion.first >> seen.lastMotion.second;
    }
  }

  static std::vector<std::string> startingWith(const Seen& seen, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : seen.lines) {
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
  }

  // The one event the phone printed in answer to a command sent as JSON,
  // leaving out the greeting every phone gets.
  nlohmann::json answer(const std::string& command) const {
    const auto sent = runProgram(phone({"send", address, command}));
    EXPECT_EQ(sent.status, 0) << sent.err;
    std::istringstream lines(sent.out);
    for (std::string line; std::getline(lines, line);) {
      const auto json = nlohmann::json::parse(line, nullptr, false);
      if (json.contains("event") && !json["event"].contains("threeFingerDragEnabled") &&
          !json["event"].contains("keepAwake")) {
        return json["event"];
      }
    }
    return nullptr;
  }

  static bool contains(const Seen& seen, const std::string& line) {
    return std::find(seen.lines.begin(), seen.lines.end(), line) != seen.lines.end();
  }
};

TEST_F(GnomeHostProgram, APhoneMovesClicksScrollsAndTypesOnTheDesktop) {
  // mutter tells a window that appeared under a still pointer about it only
  // once the pointer moves. The window also grows into place over its
  // first frames, its pointer coordinates scaled meanwhile: it is there
  // once a step of one point moves the pointer by exactly one point in it.
  bool inPlace = false;
  std::pair<double, double> before{-1, -1};
  for (int attempt = 0; attempt < 200 && !inPlace; ++attempt) {
    const int step = attempt % 2 == 0 ? 1 : -1;  // never stuck at an edge
    const auto after = send({"move", std::to_string(step), "0"}).lastMotion;
    inPlace = before.first >= 0 && after == std::pair(before.first + step, before.second) &&
              after.first == std::floor(after.first) && after.second == std::floor(after.second);
    before = after;
  }
  ASSERT_TRUE(inPlace) << "the pointer never moved exactly in the window";
  const auto from = send({"move", "10", "10"}).lastMotion;

  EXPECT_EQ(send({"move", "100", "50"}).lastMotion, std::pair(from.first + 100, from.second + 50));
  EXPECT_EQ(send({"move", "5000", "-20"}).lastMotion, std::pair(1439.0, from.second + 30));

  const auto clicks = send({"click", "left", "click", "right"});
  EXPECT_EQ(startingWith(clicks, "button"), (std::vector<std::string>{"button 272 down", "button 272 up", "button 273 down",
                                                     "button 273 up"}));

  const auto scrolled = send({"scroll", "began", "0", "0", "scroll", "changed", "0", "12", "scroll", "ended", "0", "0"});
  EXPECT_TRUE(contains(scrolled, "axis-source finger")) << ::testing::PrintToString(scrolled.lines);

  // No layout is known to the host here: characters outside ASCII go as
  // Unicode entries.
  const auto typed = send({"text", "é漢👋"});
  EXPECT_TRUE(contains(typed, "text é") && contains(typed, "text 漢") && contains(typed, "text 👋"))
      << ::testing::PrintToString(typed.lines);

  const auto chord = send({"key", "arrowLeft", "command+shift"});
  EXPECT_TRUE(contains(chord, "key Left down ctrl+shift")) << ::testing::PrintToString(chord.lines);

  // No window of ours goes above GNOME's: the laser is taken but draws
  // nothing, and a slideshow is driven by keys to the window in front.
  EXPECT_EQ(answer(R"({"setLaserPointer":{"_0":"red"}})"), nullptr);
  EXPECT_EQ(answer(R"({"getPresentation":{}})")["presentation"]["_0"]["app"], "Slideshow");
  const auto next = send({R"({"presentation":{"_0":"next"}})"});
  EXPECT_EQ(startingWith(next, "key Right down").size(), 1U) << ::testing::PrintToString(next.lines);

  // The display goes off as GNOME's power settings turn it off.
  EXPECT_EQ(answer(R"({"sleepDisplay":{}})"), nullptr);
  std::string mode;
  for (int attempt = 0; attempt < 100 && mode != "(<3>,)"; ++attempt) {
    ChildProcess get({"gdbus", "call", "--session", "--dest", "org.gnome.Mutter.DisplayConfig", "--object-path",
                      "/org/gnome/Mutter/DisplayConfig", "--method", "org.freedesktop.DBus.Properties.Get",
                      "org.gnome.Mutter.DisplayConfig", "PowerSaveMode"},
                     mutter.environment(), true);
    mode = get.readLineContaining("", patience);
  }
  EXPECT_EQ(mode, "(<3>,)");

  EXPECT_EQ(host->stop(), 0);
}

// The clipboard and the screen preview go through mutter too, not through
// an X display (there is none here).
TEST_F(GnomeHostProgram, APhoneSharesTheClipboardWithAWindowAndWatchesTheScreen) {
  EXPECT_EQ(answer(nlohmann::json{{"setClipboard", {{"_0", "from the phone \u2713"}}}}.dump()), nullptr);
  window->writeLine("paste");
  EXPECT_EQ(window->readLineContaining("clipboard", patience), "clipboard 18 from the phone \u2713");

  window->writeLine("copy from the window");
  ASSERT_EQ(window->readLineContaining("copied", patience), "copied");
  EXPECT_EQ(answer(R"({"getClipboard":{}})"), (nlohmann::json{{"clipboard", {{"_0", "from the window"}}}}));

  const auto watched = runProgram(phone({"preview", address, "--frames", "1", "--out", dir / "frames"}));
  ASSERT_EQ(watched.status, 0) << watched.err;
  EXPECT_NE(watched.out.find("frame-00001.jpg 1280x800"), std::string::npos) << watched.out;
  std::ifstream file(std::filesystem::path(dir / "frames") / "frame-00001.jpg", std::ios::binary);
  const Bytes jpeg{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const host::testing::JpegImage frame{ByteView(jpeg)};
  // The window's red and white quadrants.
  EXPECT_TRUE(frame.near(320, 200, host::testing::rgbOf(0xff0000)));
  EXPECT_TRUE(frame.near(960, 600, host::testing::rgbOf(0xffffff)));
  EXPECT_EQ(host->stop(), 0);
}

}  // namespace
}  // namespace glidemate
