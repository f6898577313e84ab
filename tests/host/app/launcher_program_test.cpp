// The host program on a real desktop, driven by the command-line phone: an
// X server with openbox, desktop entries and icons in temporary XDG folders,
// logind and the screen saver mocked on private buses, the user's shortcut
// scripts, and applications that are programs of their own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "host/services/image/icon_png.hpp"
#include "tests/support/test_images.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/dbus_mock.hpp"
#include "tests/support/openbox.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate {
namespace {

using nlohmann::json;
using testing::ChildProcess;

constexpr const char* screenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* login1 = "org.freedesktop.login1";

// The events among them that are of `kind` ("apps", "keepAwake", ...).
std::vector<json> eventsOf(const std::vector<json>& lines, const std::string& kind) {
  std::vector<json> events;
  for (const auto& line : lines) {
    if (line.contains("event") && line["event"].contains(kind)) events.push_back(line["event"][kind]);
  }
  return events;
}

json event(const std::string& kind, json value) { return json{{kind, {{"_0", std::move(value)}}}}; }

class LauncherProgramTest : public ::testing::Test {
 protected:
  host::testing::XvfbDisplay xvfb;
  host::testing::Openbox openbox{xvfb.name()};
  testing::PrivateBus sessionBus;
  testing::PrivateBus systemBus{testing::PrivateBus::Type::system};
  testing::TempDir dir;
  std::unique_ptr<testing::DBusMockClient> screenSaverMock;
  std::unique_ptr<testing::DBusMockClient> logindMock;
  std::unique_ptr<ChildProcess> host;
  std::string address;

  void SetUp() override {
    sessionBus.startMock({screenSaver, screenSaverPath, screenSaver}, screenSaver);
    screenSaverMock = std::make_unique<testing::DBusMockClient>(sessionBus.address());
    screenSaverMock->addMethod(screenSaver, screenSaverPath, screenSaver, "Inhibit", "ss", "u", "ret = 17");
    screenSaverMock->addMethod(screenSaver, screenSaverPath, screenSaver, "UnInhibit", "u", "", "");
    systemBus.startMock({"--template", "logind"}, login1);
    logindMock = std::make_unique<testing::DBusMockClient>(systemBus.address());
    sdbus::createProxy(logindMock->connection(), login1, "/org/freedesktop/login1")
        ->callMethod("AddSession")
        .onInterface(testing::DBusMockClient::mockInterface)
        .withArguments(std::string("c1"), std::string("seat0"), std::uint32_t{1000}, std::string("ann"), true);

    const std::string app = GLIDEMATE_X_TEST_APP;
    dir.write("data/applications/org.test.Editor.desktop",
              "[Desktop Entry]\nType=Application\nName=Editor\nIcon=editor\n"
              "Exec=" + app + " --gtk-id org.test.Editor --class editor Editor\n");
    dir.write("data/applications/org.test.Sketch.desktop",
              "[Desktop Entry]\nType=Application\nName=sketch\nIcon=sketch\n"
              "Exec=" + app + " --class sketch Sketch --announce " + (dir / "sketch") + "\n");
    dir.write("data/applications/org.test.Helper.desktop",
              "[Desktop Entry]\nType=Application\nName=Helper\nExec=true\nNoDisplay=true\n");
    dir.write("data/icons/hicolor/index.theme",
              "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps,scalable/apps\n\n[48x48/apps]\nSize=48\n"
              "Type=Fixed\n\n[scalable/apps]\nSize=64\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    glidemate::testing::writeImage(dir.path() / "data/icons/hicolor/48x48/apps/editor.png", "png", 48, 48);
    dir.write("data/icons/hicolor/scalable/apps/sketch.svg", glidemate::testing::svgImage(20000, 20000));
    // The image library tells formats apart by the system's MIME database,
    // which the data folders must hold.
    std::filesystem::create_directory_symlink("/usr/share/mime", dir.path() / "data/mime");
    dir.write("host/shortcuts/Hello", "#!/bin/sh\necho hello\n", 0755);
    dir.write("host/shortcuts/Broken", "#!/bin/sh\nexit 1\n", 0755);
    std::filesystem::create_directories(dir.path() / "runtime");
    ::chmod((dir / "runtime").c_str(), 0700);

    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{GLIDEMATE_HOST_BIN, "--no-advertise", "--json", "--input", "x11", "--data-dir",
                                 dir / "host"},
        std::vector<std::string>{"DISPLAY=" + xvfb.name(), sessionBus.environment(), systemBus.environment(),
                                 "XDG_DATA_HOME=" + (dir / "home-data"), "XDG_DATA_DIRS=" + (dir / "data"),
                                 "XDG_RUNTIME_DIR=" + (dir / "runtime"), "XDG_SESSION_ID=c1"},
        true, true);
    address = "127.0.0.1:" + std::to_string(json::parse(host->readLineContaining("\"listening\""))["port"].get<int>());
    pair("a");
  }

  std::vector<std::string> phone(const std::string& name, std::vector<std::string> args) const {
    std::vector<std::string> argv{GLIDEMATE_PHONE_BIN, "--id", "PHONE-" + name, "--name", "Phone " + name,
                                  "--data-dir", dir / ("phone-" + name)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  void pair(const std::string& name) {
    ChildProcess pairing(phone(name, {"pair", address}), {}, true, true);
    pairing.writeLine(json::parse(host->readLineContaining("\"pairingCode\""))["code"]);
    ASSERT_EQ(pairing.wait(), 0);
  }

  // Sends the items (commands as JSON) and a ping, and returns what came
  // back before the pong: the host answers a phone's messages in order, so
  // that is everything the items caused.
  std::vector<json> send(const std::string& name, std::vector<std::string> items) {
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), items.begin(), items.end());
    args.insert(args.end(), {"ping", "--wait", "60000"});
    ChildProcess sending(phone(name, args), {}, true);
    std::vector<json> lines;
    for (std::string line = sending.readLine(); !line.empty(); line = sending.readLine()) {
      auto value = json::parse(line);
      if (value.contains("pong")) return lines;
      lines.push_back(std::move(value));
    }
    ADD_FAILURE() << "the phone ended without the pong";
    return lines;
  }

  // A phone that stays connected, printing what it hears.
  std::unique_ptr<ChildProcess> listener(const std::string& name) {
    auto listening = std::make_unique<ChildProcess>(phone(name, {"send", address, "ping", "--wait", "60000"}),
                                                    std::vector<std::string>{}, true);
    EXPECT_FALSE(listening->readLineContaining("\"pong\"").empty());
    return listening;
  }

  std::unique_ptr<ChildProcess> startApp(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), GLIDEMATE_X_TEST_APP);
    auto app = std::make_unique<ChildProcess>(arguments, std::vector<std::string>{"DISPLAY=" + xvfb.name()}, true);
    EXPECT_FALSE(app->readLineContaining("mapped").empty());
    return app;
  }
};

TEST_F(LauncherProgramTest, AppsAreListedDrawnHiddenQuitAndLaunched) {
  auto editor = startApp({"--gtk-id", "org.test.Editor", "--class", "editor", "Editor"});
  const json both = {{{"bundleId", "org.test.Editor"}, {"name", "Editor"}, {"isRunning", true}},
                     {{"bundleId", "org.test.Sketch"}, {"name", "sketch"}, {"isRunning", false}}};
  // The window manager lists the window once it has taken it on.
  json apps;
  for (int attempt = 0; attempt < 100 && apps != both; ++attempt) {
    const auto replies = eventsOf(send("a", {R"({"getApps":{}})"}), "apps");
    ASSERT_EQ(replies.size(), 1u);
    apps = replies[0]["_0"];
  }
  EXPECT_EQ(apps, both);

  // Icons come as 64-pixel PNGs, drawn from a PNG and from an SVG as large as 20000 pixels.
  const std::vector<std::pair<std::string, std::filesystem::path>> icons{
      {"org.test.Editor", dir.path() / "data/icons/hicolor/48x48/apps/editor.png"},
      {"org.test.Sketch", dir.path() / "data/icons/hicolor/scalable/apps/sketch.svg"}};
  for (const auto& [id, file] : icons) {
    const auto expected = host::renderIconPng(file, 64);
    ASSERT_TRUE(expected);
    const auto image = glidemate::testing::decodeImage(*expected);
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 64);
    const auto lines = send("a", {json{{"getAppIcon", {{"bundleId", id}}}}.dump()});
    std::vector<json> chunks;
    for (const auto& line : lines) {
      if (line.contains("appIconChunk")) chunks.push_back(line["appIconChunk"]);
    }
    ASSERT_EQ(chunks.size(), 1u) << id;
    EXPECT_EQ(chunks[0]["bundleId"], id);
    EXPECT_EQ(chunks[0]["totalBytes"], expected->size()) << id;
    EXPECT_EQ(chunks[0]["bytes"], expected->size()) << id;
  }

  EXPECT_EQ(eventsOf(send("a", {R"({"hideApp":{"bundleId":"org.test.Editor"}})"}), "apps").size(), 1u);
  EXPECT_EQ(editor->readLine(), "unmapped");
  EXPECT_EQ(eventsOf(send("a", {R"({"quitApp":{"bundleId":"org.test.Editor"}})"}), "apps").size(), 1u);
  EXPECT_EQ(editor->readLine(), "closed");
  EXPECT_EQ(editor->wait(), 0);

  // Launching starts the entry's program, which then answers to its name.
  ASSERT_EQ(::mkfifo((dir / "sketch").c_str(), 0600), 0);
  EXPECT_TRUE(eventsOf(send("a", {R"({"launchApp":{"bundleId":"org.test.Sketch"}})"}), "failed").empty());
  std::ifstream sketch(dir / "sketch");
  std::string line;
  ASSERT_TRUE(std::getline(sketch, line));
  EXPECT_EQ(line.substr(0, 7), "mapped ");
  // Started in a session of its own and never the host's child to reap.
  std::ifstream children("/proc/" + std::to_string(host->pid()) + "/task/" + std::to_string(host->pid()) +
                         "/children");
  std::string child;
  EXPECT_FALSE(children >> child) << "the host has a child process " << child;
  EXPECT_EQ(eventsOf(send("a", {R"({"launchApp":{"bundleId":"org.test.Missing"}})"}), "failed"),
            std::vector<json>{(json{{"command", "launchApp"}, {"reason", "That app could not be opened."}})});
  for (int attempt = 0; attempt < 100 && line != "closed"; ++attempt) {
    send("a", {R"({"quitApp":{"bundleId":"org.test.Sketch"}})"});
    if (std::getline(sketch, line)) break;
  }
  EXPECT_EQ(line, "closed");
  EXPECT_EQ(host->stop(), 0);
}

TEST_F(LauncherProgramTest, KeepAwakeIsOneInhibitionHeardByEveryPhoneAndLockReachesTheSession) {
  pair("b");
  auto other = listener("b");
  bool held = false;
  for (bool on : {true, true, false, false}) {
    // The phone is greeted with what held before; the other phone hears
    // what holds after each request.
    const auto replies = eventsOf(send("a", {json{{"setKeepAwake", {{"_0", on}}}}.dump()}), "keepAwake");
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.front(), json({{"_0", held}}));
    EXPECT_EQ(json::parse(other->readLineContaining("keepAwake")), json({{"event", event("keepAwake", on)}}));
    held = on;
  }
  EXPECT_EQ(screenSaverMock->calls(screenSaver, screenSaverPath, "Inhibit").size(), 1u);
  const auto released = screenSaverMock->calls(screenSaver, screenSaverPath, "UnInhibit");
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].at(0).get<std::uint32_t>(), 17u);

  EXPECT_TRUE(eventsOf(send("a", {R"({"power":{"_0":"lock"}})"}), "failed").empty());
  EXPECT_EQ(logindMock->calls(login1, "/org/freedesktop/login1/session/c1", "Lock").size(), 1u);
  EXPECT_TRUE(eventsOf(send("a", {R"({"sleepDisplay":{}})"}), "failed").empty());
  other->stop();
}

TEST_F(LauncherProgramTest, ShortcutsRunAndThreeFingerDragIsMirrored) {
  EXPECT_EQ(eventsOf(send("a", {R"({"getShortcuts":{}})"}), "shortcuts"),
            std::vector<json>{json({{"_0", {"Broken", "Hello"}}})});
  const auto replies = send("a", {R"({"runShortcut":{"name":"Hello"}})", R"({"runShortcut":{"name":"Broken"}})",
                                  R"({"runShortcut":{"name":"../Hello"}})"});
  EXPECT_EQ(eventsOf(replies, "failed"),
            (std::vector<json>{{{"command", "shortcut"}, {"reason", "That shortcut didn't finish."}},
                               {{"command", "shortcut"}, {"reason", "“../Hello” is not the name of a shortcut."}}}));

  auto phone = listener("a");
  host->writeLine("three-finger-drag on");
  EXPECT_EQ(json::parse(host->readLineContaining("\"threeFingerDrag\"")),
            json({{"event", "threeFingerDrag"}, {"enabled", true}}));
  // Within the next read of the setting.
  EXPECT_EQ(json::parse(phone->readLineContaining("threeFingerDragEnabled")),
            json({{"event", event("threeFingerDragEnabled", true)}}));
  phone->stop();
  EXPECT_EQ(eventsOf(send("a", {"ping"}), "threeFingerDragEnabled"), std::vector<json>{json({{"_0", true}})});
  host->writeLine("three-finger-drag sideways");
  EXPECT_EQ(json::parse(host->readLineContaining("\"error\""))["text"], "three-finger-drag needs on or off");
}

}  // namespace
}  // namespace glidemate
