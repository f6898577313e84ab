// The rows of the command table for apps, power, keep-awake, shortcuts and
// the three-finger-drag mirror, through a host server with fake ports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/server/host_server.hpp"
#include "host/services/apple_script_runner.hpp"
#include "tests/host/input/manual_frame_clock.hpp"
#include "tests/support/test_images.hpp"
#include "tests/host/server/paired_phone.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;

Message event(Event e) { return Message::Event{std::move(e)}; }
Message failed(std::string command, std::string reason) {
  return event(Event::Failed{std::move(command), std::move(reason)});
}

struct FakeDirectory final : ApplicationDirectory {
  std::vector<InstalledApplication> installed;
  std::optional<std::filesystem::path> icon;
  std::vector<InstalledApplication> scan() override { return installed; }
  std::optional<std::string> locate(const std::string&) override { return std::nullopt; }
  std::optional<std::filesystem::path> iconFile(const std::string&) override { return icon; }
};

struct FakeLauncher final : ApplicationLauncher {
  bool fail = false;
  std::vector<std::string> opened;
  asio::awaitable<void> open(const std::string& location) override {
    if (fail) throw std::runtime_error("no");
    opened.push_back(location);
    co_return;
  }
};

struct FakeRunning final : ApplicationSwitcher {
  std::vector<RunningApplication> running;
  std::vector<std::string> hidden, terminated;
  std::vector<RunningApplication> list(const std::vector<InstalledApplication>&) override { return running; }
  bool activate(const RunningApplication&) override { return true; }
  void hide(const RunningApplication& a) override { hidden.push_back(a.bundleId); }
  void terminate(const RunningApplication& a) override {
    terminated.push_back(a.bundleId);
    std::erase(running, a);
  }
};

struct FakeActions final : PowerActions {
  std::vector<PowerAction> performed;
  std::optional<AppleScriptRunner::Failure> refusal;
  asio::awaitable<void> perform(PowerAction action) override {
    if (refusal) throw *refusal;
    performed.push_back(action);
    co_return;
  }
};

struct FakeDisplay final : DisplaySleeper {
  bool fails = false;
  void sleepDisplay() override {
    if (fails) throw std::runtime_error("no display");
  }
};

struct FakeAssertions final : KeepAwakeAssertions {
  int created = 0;
  int released = 0;
  std::function<void()> lost;
  asio::awaitable<std::optional<std::uint32_t>> create(const std::string&) override {
    co_return static_cast<std::uint32_t>(++created);
  }
  asio::awaitable<void> release(std::uint32_t) override {
    ++released;
    co_return;
  }
  void onLost(std::function<void()> handler) override { lost = std::move(handler); }
};

struct FakeTool final : ShortcutTool {
  Result answer;
  bool cannotStart = false;
  std::vector<std::vector<std::string>> runs;
  asio::awaitable<Result> run(std::vector<std::string> arguments) override {
    runs.push_back(arguments);
    if (cannotStart) throw std::system_error(ENOENT, std::generic_category(), "shortcuts");
    co_return answer;
  }
};

struct FakeSetting final : DragModeSetting {
  bool on = false;
  bool isThreeFingerDragOn() override { return on; }
};

class LauncherCommandsTest : public ::testing::Test {
 protected:
  asio::io_context io;
  glidemate::testing::TempDir folder;
  glidemate::testing::MemoryKeychain hostKeys;
  UserDefaults defaults{folder.path() / "settings.json"};
  NullLogger logger;
  std::vector<std::chrono::steady_clock::duration> sleeps;
  std::shared_ptr<testing::ManualFrameClock> clock = std::make_shared<testing::ManualFrameClock>();
  // The fakes, owned by the services once SetUp hands them over.
  std::unique_ptr<FakeDirectory> ownDirectory = std::make_unique<FakeDirectory>();
  std::unique_ptr<FakeLauncher> ownLauncher = std::make_unique<FakeLauncher>();
  std::unique_ptr<FakeRunning> ownRunning = std::make_unique<FakeRunning>();
  std::unique_ptr<FakeActions> ownActions = std::make_unique<FakeActions>();
  std::unique_ptr<FakeDisplay> ownDisplay = std::make_unique<FakeDisplay>();
  std::unique_ptr<FakeAssertions> ownAssertions = std::make_unique<FakeAssertions>();
  std::unique_ptr<FakeTool> ownTool = std::make_unique<FakeTool>();
  std::unique_ptr<FakeSetting> ownSetting = std::make_unique<FakeSetting>();
  FakeDirectory& directory = *ownDirectory;
  FakeLauncher& launcher = *ownLauncher;
  FakeRunning& running = *ownRunning;
  FakeActions& actions = *ownActions;
  FakeDisplay& display = *ownDisplay;
  FakeAssertions& assertions = *ownAssertions;
  FakeTool& tool = *ownTool;
  FakeSetting& setting = *ownSetting;
  std::shared_ptr<HostServer> server;
  std::uint64_t pings = 0;

  void SetUp() override {
    HostServices services;
    services.catalog = std::make_unique<AppCatalogService>(std::move(ownDirectory), std::move(ownLauncher),
                                                           std::move(ownRunning), "glidemate");
    services.power = std::make_unique<PowerService>(io.get_executor(), std::move(ownActions), std::move(ownDisplay),
                                                    std::move(ownAssertions));
    services.shortcuts = std::make_unique<ShortcutsService>(std::move(ownTool));
    services.dragMode = std::make_unique<TrackpadDragModeService>(io.get_executor(), std::move(ownSetting), clock);
    server = HostServer::make(io.get_executor(),
                              HostServer::Configuration{
                                  .keys = hostKeys,
                                  .defaults = defaults,
                                  .logger = logger,
                                  .hostName = "Desk",
                                  .sleep = [this](std::chrono::steady_clock::duration d) -> asio::awaitable<void> {
                                    sleeps.push_back(d);
                                    co_return;
                                  },
                              },
                              std::move(services));
  }

  void TearDown() override {
    server.reset();
    io.restart();
    io.poll();
  }

  // Sends `command`, then a ping: everything the command caused comes
  // before the pong, and nothing is left to come after it.
  std::vector<Message> answerTo(glidemate::testing::PairedPhone& phone, Command command) {
    const std::size_t before = phone.received.size();
    phone.send(Message::Command{std::move(command)});
    phone.send(Message::Ping{++pings});
    EXPECT_TRUE(runUntil(io, [&] { return phone.received.back() == Message{Message::Pong{pings}}; }));
    return {phone.received.begin() + static_cast<std::ptrdiff_t>(before), phone.received.end() - 1};
  }
};

TEST_F(LauncherCommandsTest, PhonesAreGreetedWithTheStatesTheyMirrorAndToldOfChanges) {
  setting.on = true;
  server->start();
  io.restart();
  io.poll();
  runAwaitable(io, server->services().power->setKeepAwake(true));
  glidemate::testing::PairedPhone phone(io, *server);
  EXPECT_EQ(phone.received, (std::vector<Message>{event(Event::ThreeFingerDragEnabled{true}),
                                                  event(Event::KeepAwake{true})}));

  // The setting is read again every two seconds; a change reaches the phone.
  setting.on = false;
  clock->advance(2s);
  ASSERT_TRUE(runUntil(io, [&] { return phone.received.size() == 3; }));
  EXPECT_EQ(phone.received.back(), event(Event::ThreeFingerDragEnabled{false}));
  // The desktop dropping the assertion turns the phone's switch off too.
  assertions.lost();
  ASSERT_TRUE(runUntil(io, [&] { return phone.received.size() == 4; }));
  EXPECT_EQ(phone.received.back(), event(Event::KeepAwake{false}));

  server->stop();
  io.restart();
  io.poll();
  EXPECT_FALSE(clock->nextDeadline()) << "the poll ends with the server";
}

TEST_F(LauncherCommandsTest, KeepAwakeIsHeldOnceAndEveryPhoneHearsOfIt) {
  glidemate::testing::PairedPhone first(io, *server, "P1", "One");
  glidemate::testing::PairedPhone second(io, *server, "P2", "Two");
  for (bool on : {true, true, false, false}) {
    const std::size_t before = second.received.size();
    EXPECT_EQ(answerTo(first, Command::SetKeepAwake{on}), std::vector<Message>{event(Event::KeepAwake{on})});
    ASSERT_TRUE(runUntil(io, [&] { return second.received.size() == before + 1; }));
    EXPECT_EQ(second.received.back(), event(Event::KeepAwake{on}));
  }
  EXPECT_EQ(assertions.created, 1);
  EXPECT_EQ(assertions.released, 1);
}

TEST_F(LauncherCommandsTest, PowerAndDisplayFailuresBecomeSentences) {
  glidemate::testing::PairedPhone phone(io, *server);
  EXPECT_EQ(answerTo(phone, Command::Power{PowerAction::lock}), std::vector<Message>{});
  EXPECT_EQ(actions.performed, std::vector<PowerAction>{PowerAction::lock});
  actions.refusal = AppleScriptRunner::Failure::failed("Access denied by policy.");
  EXPECT_EQ(answerTo(phone, Command::Power{PowerAction::shutDown}),
            std::vector<Message>{failed("power", "Access denied by policy.")});
  actions.refusal = AppleScriptRunner::Failure::notPermitted("System Events");
  EXPECT_EQ(answerTo(phone, Command::Power{PowerAction::sleep}),
            std::vector<Message>{failed("power", "Allow Glidemate to control System Events in Privacy & Security "
                                                 "\u2192 Automation.")});

  EXPECT_EQ(answerTo(phone, Command::SleepDisplay{}), std::vector<Message>{});
  display.fails = true;
  EXPECT_EQ(answerTo(phone, Command::SleepDisplay{}),
            std::vector<Message>{failed("power", "The Mac wouldn't turn its display off.")});
}

TEST_F(LauncherCommandsTest, ShortcutsAreListedAndRunWithTheToolsWords) {
  glidemate::testing::PairedPhone phone(io, *server);
  tool.answer = {0, " Focus \n\nBackup\n", ""};
  EXPECT_EQ(answerTo(phone, Command::GetShortcuts{}),
            std::vector<Message>{event(Event::Shortcuts{{"Focus", "Backup"}})});
  tool.answer = {0, "", ""};
  EXPECT_EQ(answerTo(phone, Command::RunShortcut{"Focus"}), std::vector<Message>{});
  tool.answer = {1, "", "No shortcut named Focus.\n"};
  EXPECT_EQ(answerTo(phone, Command::RunShortcut{"Focus"}),
            std::vector<Message>{failed("shortcut", "No shortcut named Focus.")});
  tool.cannotStart = true;
  EXPECT_EQ(answerTo(phone, Command::RunShortcut{"Focus"}),
            std::vector<Message>{failed("shortcut", "That shortcut couldn't run.")});
  EXPECT_EQ(answerTo(phone, Command::GetShortcuts{}), std::vector<Message>{event(Event::Shortcuts{{}})});
  EXPECT_EQ(tool.runs.back(), std::vector<std::string>{"list"});
  EXPECT_EQ(tool.runs[1], (std::vector<std::string>{"run", "Focus"}));
}

TEST_F(LauncherCommandsTest, AppsAreListedLaunchedHiddenAndQuit) {
  glidemate::testing::writeImage(folder.path() / "icon.png", "png", 48, 48);
  directory.installed = {{"org.x.mail", "Mail", "/apps/mail", ""}, {"org.x.chess", "Chess", "/apps/chess", ""}};
  running.running = {{"org.x.chess", true, {7}}};
  glidemate::testing::PairedPhone phone(io, *server);

  const std::vector<AppInfo> both{{"org.x.chess", "Chess", true}, {"org.x.mail", "Mail", false}};
  EXPECT_EQ(answerTo(phone, Command::GetApps{}), std::vector<Message>{event(Event::Apps{both})});

  // An icon comes as chunks under its identifier; no icon, nothing at all.
  EXPECT_EQ(answerTo(phone, Command::GetAppIcon{"org.x.mail"}), std::vector<Message>{});
  directory.icon = folder.path() / "icon.png";
  const auto chunks = answerTo(phone, Command::GetAppIcon{"org.x.mail"});
  ASSERT_EQ(chunks.size(), 1u);
  const auto& chunk = std::get<Message::AppIconChunk>(chunks[0].value);
  EXPECT_EQ(chunk.bundleId, "org.x.mail");
  EXPECT_EQ(chunk.totalBytes, chunk.chunk.size());

  EXPECT_EQ(answerTo(phone, Command::LaunchApp{"org.x.mail"}), std::vector<Message>{});
  EXPECT_EQ(launcher.opened, std::vector<std::string>{"/apps/mail"});
  const auto couldNot = std::vector<Message>{failed("launchApp", "That app could not be opened.")};
  EXPECT_EQ(answerTo(phone, Command::LaunchApp{"org.x.unknown"}), couldNot);
  launcher.fail = true;
  EXPECT_EQ(answerTo(phone, Command::LaunchApp{"org.x.mail"}), couldNot);

  // Hiding or quitting what does not run still answers with the list.
  EXPECT_EQ(answerTo(phone, Command::HideApp{"org.x.mail"}), std::vector<Message>{event(Event::Apps{both})});
  EXPECT_EQ(answerTo(phone, Command::HideApp{"org.x.chess"}), std::vector<Message>{event(Event::Apps{both})});
  EXPECT_EQ(running.hidden, std::vector<std::string>{"org.x.chess"});
  EXPECT_TRUE(sleeps.empty());
  EXPECT_EQ(answerTo(phone, Command::QuitApp{"org.x.chess"}),
            std::vector<Message>{event(Event::Apps{{{"org.x.chess", "Chess", false}, {"org.x.mail", "Mail", false}}})});
  EXPECT_EQ(running.terminated, std::vector<std::string>{"org.x.chess"});
  EXPECT_EQ(sleeps, std::vector<std::chrono::steady_clock::duration>{500ms});
}

}  // namespace
}  // namespace glidemate::host
