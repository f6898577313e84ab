// The host program and the command-line phone as separate processes, talking
// over loopback, the way a person tries them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "kit/input/touch_classifier.hpp"
#include "kit/input/touch_trace_parser.hpp"
#include "tests/host/services/screen_preview/jpeg_image.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/mpris_players.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_images.hpp"
#include "tests/support/test_window.hpp"
#include "tests/support/x_painter.hpp"
#include "tests/support/x_pointer.hpp"
#include "tests/support/x_screen.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate {
namespace {

using testing::ChildProcess;
using testing::runProgram;
using testing::TempDir;

class HostProgramTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::unique_ptr<ChildProcess> host;
  std::string address;
  std::string lastTyped;

  void SetUp() override {
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{GLIDEMATE_HOST_BIN, "--no-advertise", "--input", "none", "--json", "--name", "Desk",
                                 "--data-dir", dir / "host"},
        // Never the machine's own Bluetooth.
        std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system_bus_socket"}, true, true);
    const auto listening = event("listening");
    ASSERT_FALSE(listening.is_null()) << "the host did not start";
    address = "127.0.0.1:" + std::to_string(listening["port"].get<int>());
  }

  // The next status line of the given kind.
  nlohmann::json event(const std::string& name) {
    const std::string line = host->readLineContaining("\"event\":\"" + name + "\"");
    if (line.empty()) return nullptr;
    return nlohmann::json::parse(line);
  }

  std::vector<std::string> phone(const std::string& phoneDir, std::vector<std::string> args) {
    std::vector<std::string> argv{GLIDEMATE_PHONE_BIN, "--id", "PHONE-" + phoneDir, "--name",
                                  "Phone " + phoneDir, "--data-dir", dir / phoneDir};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // Pairs, typing `wrongBy` more than the code the host shows.
  testing::ProgramResult pair(const std::string& phoneDir, int wrongBy = 0) {
    ChildProcess p(phone(phoneDir, {"pair", address}), {}, true, true);
    const auto shown = event("pairingCode");
    EXPECT_EQ(shown["phone"], "Phone " + phoneDir);
    const int code = (std::stoi(shown["code"].get<std::string>()) + wrongBy) % 1000000;
    char typed[8];
    std::snprintf(typed, sizeof typed, "%06d", code);
    lastTyped = typed;
    p.writeLine(typed);
    std::string out;
    for (std::string line = p.readLine(); !line.empty(); line = p.readLine()) out += line + "\n";
    return {p.wait(), out, {}};
  }

  testing::ProgramResult send(const std::string& phoneDir, std::vector<std::string> items) {
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), items.begin(), items.end());
    args.insert(args.end(), {"--wait", "300"});
    return runProgram(phone(phoneDir, args));
  }
};

TEST_F(HostProgramTest, PairReconnectPingAndTheRefusals) {
  const auto paired = pair("a");
  EXPECT_EQ(paired.status, 0);
  EXPECT_EQ(paired.out, "Paired with " + address + "\n");
  EXPECT_EQ(event("connected")["transport"], "lan");

  // Reconnecting authenticates with the stored key; ping comes back.
  auto sent = send("a", {"ping"});
  EXPECT_EQ(sent.status, 0) << sent.err;
  EXPECT_NE(sent.out.find("{\"pong\":{\"sendTimeNs\":"), std::string::npos) << sent.out;

  host->writeLine("pause");
  EXPECT_FALSE(event("paused").is_null());
  sent = send("a", {"ping"});
  EXPECT_EQ(sent.status, 1);
  EXPECT_NE(sent.err.find("Glidemate is paused on this Mac"), std::string::npos) << sent.err;
  host->writeLine("resume");
  EXPECT_FALSE(event("resumed").is_null());

  host->writeLine("disconnect PHONE-a");
  sent = send("a", {"ping"});
  EXPECT_NE(sent.err.find("this iPhone was disconnected on the Mac"), std::string::npos) << sent.err;
  host->writeLine("allow PHONE-a");
  EXPECT_EQ(send("a", {"ping"}).status, 0);

  // Forgotten, the phone must pair again.
  host->writeLine("forget PHONE-a");
  host->writeLine("paired");
  EXPECT_EQ(event("paired")["phones"], nlohmann::json::array());
  sent = send("a", {"ping"});
  EXPECT_EQ(sent.status, 1);
  EXPECT_NE(sent.err.find("not paired"), std::string::npos) << sent.err;
  // The host offered a code for that attempt; it is gone with it.
  EXPECT_FALSE(event("pairingEnded").is_null());
  EXPECT_EQ(pair("a").status, 0);

  EXPECT_EQ(host->stop(), 0);
}

TEST_F(HostProgramTest, WrongCodesAreRefusedAndBlockPairing) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(pair("b", 1).status, 1);
    EXPECT_EQ(event("handshakeFailed")["error"], "pairing code did not match");
  }
  // The third wrong code blocks pairing as it fails.
  EXPECT_EQ(pair("b", 1).status, 1);
  const auto blocked = event("pairingBlocked");
  ASSERT_FALSE(blocked.is_null());
  EXPECT_EQ(blocked["until"].get<std::string>().back(), 'Z');
  EXPECT_EQ(event("handshakeFailed")["error"], "pairing code did not match");
  // While blocked, no code is shown: the phone hears it is refused.
  const auto refused = runProgram(phone("b", {"pair", address, "--code", "123456"}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("pairing refused"), std::string::npos) << refused.err;
}

// A failed pairing may have shown someone bits of the code: the phone will
// not send it again, even in a later run.
TEST_F(HostProgramTest, APhoneRefusesACodeThatFailedBefore) {
  EXPECT_EQ(pair("d", 1).status, 1);
  const auto again = runProgram(phone("d", {"pair", address, "--code", lastTyped}));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("the code " + lastTyped +
                           " was already used in a pairing that failed; ask the computer for a new code"),
            std::string::npos)
      << again.err;
}

TEST_F(HostProgramTest, ASecondHostOnTheSameDataFolderSaysSoAndExits) {
  const auto second = runProgram({GLIDEMATE_HOST_BIN, "--no-advertise", "--input", "none", "--data-dir", dir / "host"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("glidemate-host is already running for this data folder (pid " +
                            std::to_string(host->pid()) + ")"),
            std::string::npos)
      << second.err;
  // Another data folder is another host.
  ChildProcess other({GLIDEMATE_HOST_BIN, "--no-advertise", "--input", "none", "--json", "--data-dir", dir / "other"},
                     {}, true, true);
  EXPECT_NE(other.readLineContaining("\"listening\""), "");
}

TEST_F(HostProgramTest, BadCommandsAndArgumentsAreExplained) {
  host->writeLine("frobnicate");
  EXPECT_EQ(event("error")["text"], "unknown command 'frobnicate'");
  const auto unknownItem = runProgram(phone("c", {"send", address, "wiggle"}));
  EXPECT_EQ(unknownItem.status, 2);
  EXPECT_NE(unknownItem.err.find("unknown item 'wiggle'"), std::string::npos);
  const auto badOption = runProgram({GLIDEMATE_HOST_BIN, "--port", "70000"});
  EXPECT_EQ(badOption.status, 2);
  EXPECT_NE(badOption.err.find("--port needs a number from 0 to 65535"), std::string::npos);
  const auto nobody = runProgram(phone("c", {"send", "127.0.0.1:1", "ping"}));
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.err.find("could not reach 127.0.0.1:1"), std::string::npos) << nobody.err;
}

// A host driving a private X server, and a phone already paired with it.
class HostProgramOnX : public ::testing::Test {
 protected:
  explicit HostProgramOnX(int width = host::testing::XvfbDisplay::width,
                          int height = host::testing::XvfbDisplay::height, std::string sessionType = "x11")
      : xvfb({.screenFile = true, .screenWidth = width, .screenHeight = height}),
        sessionType_(std::move(sessionType)) {}

  host::testing::XvfbDisplay xvfb;
  testing::XPointer pointer{xvfb.name()};
  TempDir dir;
  std::unique_ptr<ChildProcess> host;
  std::string address;

  void SetUp() override {
    // For the other X clients the tests run.
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{GLIDEMATE_HOST_BIN, "--no-advertise", "--json", "--input", "x11",
                                 "--data-dir", dir / "host"},
        std::vector<std::string>{"DISPLAY=" + xvfb.name(), "XDG_SESSION_TYPE=" + sessionType_,
                                 "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system_bus_socket"},
        true, true);
    const auto listening = nlohmann::json::parse(host->readLineContaining("\"listening\""));
    address = "127.0.0.1:" + std::to_string(listening["port"].get<int>());
    ChildProcess pairing(phone({"pair", address}), {}, true, true);
    pairing.writeLine(nlohmann::json::parse(host->readLineContaining("\"pairingCode\""))["code"]);
    ASSERT_EQ(pairing.wait(), 0);
  }

  std::vector<std::string> phone(std::vector<std::string> args) const {
    std::vector<std::string> argv{GLIDEMATE_PHONE_BIN, "--data-dir", dir / "phone"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // The events a phone printed in answer to one command sent as JSON.
  std::vector<nlohmann::json> events(const std::string& command) {
    const auto sent = runProgram(phone({"send", address, command}));
    EXPECT_EQ(sent.status, 0) << sent.err;
    std::vector<nlohmann::json> out;
    std::istringstream lines(sent.out);
    for (std::string line; std::getline(lines, line);) {
      const auto json = nlohmann::json::parse(line, nullptr, false);
      // Leave out the greeting every phone gets.
      if (json.contains("event") && !json["event"].contains("threeFingerDragEnabled") &&
          !json["event"].contains("keepAwake")) {
        out.push_back(json["event"]);
      }
    }
    return out;
  }

  const std::string sessionType_;

  // Waits for `done` while other processes work; the limit only keeps a
  // broken test from hanging.
  static bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) usleep(10'000);
    return done();
  }

  // The pointer once it has left `from`: a move may still be on its way when
  // the phone is done.
  testing::PointerPosition pointerAwayFrom(testing::PointerPosition from) {
    auto now = pointer.position();
    for (int i = 0; i < 500 && now == from; ++i) {
      usleep(10'000);
      now = pointer.position();
    }
    return now;
  }
};

// A phone's move reaches a real X server through the host.
TEST_F(HostProgramOnX, PhoneMovesThePointer) {
  pointer.warpTo({200, 300});
  const auto sent = runProgram(phone({"send", address, "move", "100", "50"}));
  ASSERT_EQ(sent.status, 0) << sent.err;
  EXPECT_EQ(pointerAwayFrom({200, 300}), (testing::PointerPosition{300, 350}));
}

// A recorded one-finger glide, replayed through the phone's trackpad logic,
// moves the pointer by exactly what that logic decides.
TEST_F(HostProgramOnX, ReplayedTraceMovesThePointer) {
  std::string trace = "{\"id\":1,\"phase\":\"began\",\"x\":100,\"y\":100,\"time\":0.0}\n";
  for (int i = 1; i <= 10; ++i) {
    const double t = i * 0.016;
    trace += "{\"id\":1,\"phase\":\"moved\",\"x\":" + std::to_string(100 + 6 * i) +
             ",\"y\":" + std::to_string(100 + 3 * i) + ",\"time\":" + std::to_string(t) + "}\n";
    trace += "{\"flush\":" + std::to_string(t) + "}\n";
  }
  trace += "{\"id\":1,\"phase\":\"ended\",\"x\":160,\"y\":130,\"time\":0.2}\n{\"flush\":0.2}\n";
  std::ofstream(dir / "glide.jsonl") << trace;

  double expectedX = 400;
  double expectedY = 400;
  TouchClassifier classifier;
  for (const auto& step : TouchTraceParser::parse(trace)) {
    if (const auto* touch = std::get_if<TouchTraceStep::Touch>(&step.value)) {
      classifier.apply(touch->sample);
      continue;
    }
    for (const auto& action : classifier.flush(std::get<TouchTraceStep::Flush>(step.value).now)) {
      if (const auto* move = std::get_if<TrackpadAction::MoveCursor>(&action.value)) {
        expectedX += static_cast<float>(move->dx);
        expectedY += static_cast<float>(move->dy);
      }
    }
  }
  ASSERT_GT(expectedX, 430);

  pointer.warpTo({400, 400});
  const auto replayed = runProgram(phone({"replay", address, dir / "glide.jsonl"}));
  ASSERT_EQ(replayed.status, 0) << replayed.err;
  const auto now = pointerAwayFrom({400, 400});
  EXPECT_NEAR(now.x, expectedX, 1.0);
  EXPECT_NEAR(now.y, expectedY, 1.0);
}

// The clipboard between a phone and another X program, through the host.
TEST_F(HostProgramOnX, ClipboardTravelsBetweenThePhoneAndOtherPrograms) {
  const std::string text = "Gr\u00fc\u00dfe, \u20ac5 \U0001F44B";
  EXPECT_TRUE(events(nlohmann::json{{"setClipboard", {{"_0", text}}}}.dump()).empty());
  const auto read = runProgram({X_CLIPBOARD_PEER, "read"});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, text);

  const auto tooLong = events(nlohmann::json{{"setClipboard", {{"_0", std::string(30001, 'x')}}}}.dump());
  ASSERT_EQ(tooLong.size(), 1U);
  EXPECT_EQ(tooLong[0]["failed"]["reason"], "That's too much text to send in one go.");

  std::ofstream(dir / "theirs") << "copied elsewhere \u2713";
  ChildProcess owner({X_CLIPBOARD_PEER, "own", dir / "theirs"}, {}, true);
  ASSERT_EQ(owner.readLine(), "owned");
  const auto got = events(R"({"getClipboard":{}})");
  ASSERT_EQ(got.size(), 1U);
  EXPECT_EQ(got[0]["clipboard"]["_0"], "copied elsewhere \u2713");
}

// The cursor hidden under the laser dot shows again when the host stops,
// while the phone that raised the dot is still connected.
TEST_F(HostProgramOnX, TheCursorComesBackWhenTheHostStopsWithTheDotUp) {
  host::testing::TestWindow page(xvfb.name(), {.width = host::testing::XvfbDisplay::width,
                                               .height = host::testing::XvfbDisplay::height});
  pointer.warpTo({500, 400});
  const auto cursorShows = [&] { return host::testing::cursorShowsAt(xvfb.screenFile(), 500, 400); };
  ASSERT_TRUE(eventually(cursorShows));

  ChildProcess presenter(phone({"send", address, R"({"setLaserPointer":{"_0":"red"}})", "--wait", "60000"}), {}, true);
  const auto dots = [&] { return host::testing::windowsOfClass(xvfb.name(), "Glidemate").size(); };
  EXPECT_TRUE(eventually([&] { return !cursorShows() && dots() == 1; }));

  EXPECT_EQ(host->stop(), 0);
  // The server cleans up after a client that left in its own time.
  EXPECT_TRUE(eventually([&] { return cursorShows() && dots() == 0; }));
}

// Input sent to XWayland's X display of a Wayland session: its screen saver
// would turn nothing off, so display off is refused rather than faked.
class HostProgramOnXWayland : public HostProgramOnX {
 protected:
  HostProgramOnXWayland()
      : HostProgramOnX(host::testing::XvfbDisplay::width, host::testing::XvfbDisplay::height, "wayland") {}
};

TEST_F(HostProgramOnXWayland, DisplayOffIsRefused) {
  const auto answer = events(R"({"sleepDisplay":{}})");
  ASSERT_EQ(answer.size(), 1U);
  EXPECT_EQ(answer[0]["failed"]["reason"], "The Mac wouldn't turn its display off.");
}

// The phone watching the screen of a 1440 × 900 X server that a test
// client painted, through the host program.
class HostProgramPreview : public HostProgramOnX {
 protected:
  HostProgramPreview() : HostProgramOnX(1440, 900) {}

  // The frames a `preview` run kept, decoded.
  host::testing::JpegImage frame(const std::string& folder, int number) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05d.jpg", number);
    std::ifstream file(dir / folder + "/" + name, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return host::testing::JpegImage(bytes);
  }
};

TEST_F(HostProgramPreview, ThePhoneKeepsFramesOfWhatIsOnTheScreen) {
  testing::XPainter painter(xvfb.name());
  painter.fill(0, 0, 720, 900, 0xd02020);
  painter.fill(720, 0, 720, 900, 0x2040d0);
  painter.fill(1100, 600, 40, 40, 0xe0e020);
  pointer.warpTo({1020, 520});

  ChildProcess watching(phone({"preview", address, "--frames", "2", "--out", dir / "whole"}), {}, true);
  // One line a frame: its file, size, bytes and the time since the last.
  std::istringstream first(watching.readLine());
  std::string name;
  std::string size;
  std::size_t bytes = 0;
  first >> name >> size >> bytes;
  EXPECT_EQ(name, "frame-00001.jpg");
  EXPECT_EQ(size, "1280x800");
  EXPECT_EQ(bytes, std::filesystem::file_size(dir / "whole/frame-00001.jpg"));
  const auto screen = frame("whole", 1);
  EXPECT_TRUE(screen.near(300, 400, host::testing::rgbOf(0xd02020)));
  EXPECT_TRUE(screen.near(1000, 200, host::testing::rgbOf(0x2040d0)));

  // A still screen sends nothing more; a change is the next frame.
  painter.fill(0, 0, 720, 900, 0x20c020);
  EXPECT_EQ(watching.readLine().rfind("frame-00002.jpg 1280x800 ", 0), 0U);
  EXPECT_EQ(watching.wait(), 0);
  EXPECT_TRUE(frame("whole", 2).near(300, 400, host::testing::rgbOf(0x20c020)));

  // Around the pointer, kept inside the screen: the window from 480,220
  // shows the block at 620,380.
  const auto around = runProgram(phone({"preview", address, "--mode", "cursor", "--frames", "1", "--out", dir / "cursor"}));
  ASSERT_EQ(around.status, 0) << around.err;
  const auto cropped = frame("cursor", 1);
  EXPECT_EQ(cropped.width(), 960);
  EXPECT_EQ(cropped.height(), 600);
  EXPECT_TRUE(cropped.near(640, 400, host::testing::rgbOf(0xe0e020)));
  EXPECT_TRUE(cropped.near(100, 300, host::testing::rgbOf(0x20c020)));
  EXPECT_TRUE(cropped.near(900, 300, host::testing::rgbOf(0x2040d0)));
}

TEST(HostProgram, WithoutAnXServerThePhoneHearsTheScreenCannotBeCaptured) {
  TempDir dir;
  ChildProcess host({GLIDEMATE_HOST_BIN, "--no-advertise", "--json", "--input", "none", "--data-dir", dir / "host"},
                    {"DISPLAY=", "WAYLAND_DISPLAY=wayland-0"}, true, true);
  const auto listening = nlohmann::json::parse(host.readLineContaining("\"listening\""));
  const std::string address = "127.0.0.1:" + std::to_string(listening["port"].get<int>());
  const std::vector<std::string> phone{GLIDEMATE_PHONE_BIN, "--data-dir", dir / "phone"};
  ChildProcess pairing({phone[0], phone[1], phone[2], "pair", address}, {}, true, true);
  pairing.writeLine(nlohmann::json::parse(host.readLineContaining("\"pairingCode\""))["code"]);
  ASSERT_EQ(pairing.wait(), 0);

  const auto watched = runProgram({phone[0], phone[1], phone[2], "preview", address, "--out", dir / "frames"});
  EXPECT_EQ(watched.status, 1);
  EXPECT_NE(watched.err.find("said: The Mac could not start capturing its screen."), std::string::npos) << watched.err;
}

TEST(HostProgram, ReplayNamesTheBadLine) {
  TempDir dir;
  std::ofstream(dir / "bad.jsonl") << "{\"flush\":0.1}\n{\"id\":1,\"phase\":\"sideways\",\"x\":1,\"y\":1,\"time\":0}\n";
  const auto result = runProgram({GLIDEMATE_PHONE_BIN, "--data-dir", dir / "phone", "replay",
                                  "127.0.0.1:9", dir / "bad.jsonl"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("line 2"), std::string::npos) << result.err;
}

// A host on a session bus with two media players, and a phone paired with
// it: Spotify paused on a track, VLC playing, each with its cover on disk.
class HostProgramWithPlayers : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::PrivateBus bus;
  testing::MprisPlayerMock spotify{bus, "org.mpris.MediaPlayer2.spotify", "Spotify"};
  testing::MprisPlayerMock vlc{bus, "org.mpris.MediaPlayer2.vlc", "VLC media player"};
  std::unique_ptr<ChildProcess> host;
  std::string address;

  void SetUp() override {
    writeCover("large.png", testing::makeImage("png", 640, 640));
    writeCover("small.jpg", testing::makeImage("jpeg", 300, 300));
    spotify.set("Paused", {{"xesam:title", sdbus::Variant(std::string("Paused song"))},
                           {"mpris:trackid", sdbus::Variant(sdbus::ObjectPath("/spotify/track/1"))},
                           {"mpris:artUrl", sdbus::Variant("file://" + dir / "small.jpg")}});
    vlc.set("Playing", {{"xesam:title", sdbus::Variant(std::string("Playing song"))},
                        {"xesam:artist", sdbus::Variant(std::vector<std::string>{"Ann", "Bo"})},
                        {"mpris:trackid", sdbus::Variant(sdbus::ObjectPath("/vlc/track/7"))},
                        {"mpris:artUrl", sdbus::Variant("file://" + dir / "large.png")}});
    std::filesystem::create_directory(dir.path() / "runtime");
    std::filesystem::permissions(dir.path() / "runtime", std::filesystem::perms::owner_all);
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{GLIDEMATE_HOST_BIN, "--no-advertise", "--input", "none", "--json", "--data-dir",
                                 dir / "host"},
        std::vector<std::string>{bus.environment(), "XDG_RUNTIME_DIR=" + dir / "runtime"}, true, true);
    const auto listening = nlohmann::json::parse(host->readLineContaining("\"listening\""));
    address = "127.0.0.1:" + std::to_string(listening["port"].get<int>());
    ChildProcess pairing(phone({"pair", address}), {}, true, true);
    pairing.writeLine(nlohmann::json::parse(host->readLineContaining("\"pairingCode\""))["code"]);
    ASSERT_EQ(pairing.wait(), 0);
  }

  void writeCover(const std::string& name, const Bytes& image) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  std::vector<std::string> phone(std::vector<std::string> args) const {
    std::vector<std::string> argv{GLIDEMATE_PHONE_BIN, "--data-dir", dir / "phone"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // Sends the commands and returns the phone's output once a line contains
  // `until` (the phone gives up after its --wait, far beyond any answer).
  std::vector<nlohmann::json> send(std::vector<std::string> commands, const std::string& until) {
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), commands.begin(), commands.end());
    args.insert(args.end(), {"--until", until, "--wait", "60000", "--save-chunks", dir / "saved"});
    const auto sent = runProgram(phone(args));
    EXPECT_EQ(sent.status, 0) << sent.err;
    std::vector<nlohmann::json> lines;
    std::istringstream out(sent.out);
    for (std::string line; std::getline(out, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }

  static nlohmann::json lastNowPlaying(const std::vector<nlohmann::json>& lines) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
      if (it->contains("event") && (*it)["event"].contains("nowPlaying")) return (*it)["event"]["nowPlaying"]["_0"];
    }
    return nullptr;
  }

  std::optional<testing::DecodedImage> savedArtwork() {
    std::ifstream file(dir / "saved/$artwork", std::ios::binary);
    const Bytes data{std::istreambuf_iterator<char>(file), {}};
    return testing::decodeImage(data);
  }
};

TEST_F(HostProgramWithPlayers, ThePhoneReadsNowPlayingPressesPlayPauseAndSavesTheArtwork) {
  // The playing player is chosen over the paused one that comes first.
  auto status = lastNowPlaying(send({"{\"getNowPlaying\":{}}"}, "nowPlaying"));
  EXPECT_EQ(status["app"], "VLC media player");
  EXPECT_EQ(status["title"], "Playing song");
  EXPECT_EQ(status["artist"], "Ann, Bo");
  EXPECT_EQ(status["isPlaying"], true);
  EXPECT_EQ(status["artworkKey"], "VLC media player:/vlc/track/7");

  // Its cover comes as a JPEG of at most 400 pixels a side.
  send({"{\"getNowPlaying\":{}}", "{\"getNowPlayingArtwork\":{}}"}, "\"saved\"");
  auto artwork = savedArtwork();
  ASSERT_TRUE(artwork);
  EXPECT_EQ(artwork->format, "jpeg");
  EXPECT_EQ(artwork->width, 400);
  EXPECT_EQ(artwork->height, 400);

  // Play/pause reaches VLC; with nothing playing now, the answer is the
  // first player with a track, paused.
  status = lastNowPlaying(send({"{\"media\":{\"_0\":\"playPause\"}}"}, "nowPlaying"));
  EXPECT_EQ(vlc.calls("PlayPause"), 1U);
  EXPECT_EQ(spotify.calls("PlayPause"), 0U);
  EXPECT_EQ(status["app"], "Spotify");
  EXPECT_EQ(status["isPlaying"], false);

  // Spotify's smaller cover keeps its size.
  send({"{\"getNowPlayingArtwork\":{}}"}, "\"saved\"");
  artwork = savedArtwork();
  ASSERT_TRUE(artwork);
  EXPECT_EQ(artwork->width, 300);
  EXPECT_EQ(artwork->height, 300);
}

}  // namespace
}  // namespace glidemate
