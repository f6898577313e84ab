#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/server/host_server.hpp"
#include "host/services/apple_script_runner.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/protocol.hpp"
#include "tests/host/server/paired_phone.hpp"

namespace glidemate::host {
namespace {

using testing::runAwaitable;
using testing::runUntil;

Message failed(std::string command, std::string reason) {
  return Message::Event{Event::Failed{std::move(command), std::move(reason)}};
}

Message failed(const UnavailableFeature& feature) {
  return failed(std::string(feature.command), std::string(feature.reason));
}

// A host with no desktop services at all, as on a machine without a display
// or a session bus, and one paired phone.
class CommandDispatchTest : public ::testing::Test {
 protected:
  asio::io_context io;
  testing::MemoryKeychain hostKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-commands-test-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  std::vector<std::string> automationShownFor;
  std::shared_ptr<HostServer> server = HostServer::make(
      io.get_executor(), HostServer::Configuration{.keys = hostKeys,
                                                   .defaults = defaults,
                                                   .logger = logger,
                                                   .hostName = "Desk",
                                                   .openAutomationSettings = [this](const std::string& app) {
                                                     automationShownFor.push_back(app);
                                                   }});
  testing::PairedPhone phone{io, *server};

  void TearDown() override {
    server.reset();
    io.restart();
    io.poll();
    std::filesystem::remove(settings);
  }
};

TEST_F(CommandDispatchTest, APhoneIsGreetedWithTheSettingsItMirrors) {
  EXPECT_EQ(phone.received, (std::vector<Message>{Message::Event{Event::ThreeFingerDragEnabled{false}},
                                                  Message::Event{Event::KeepAwake{false}}}));
}

TEST_F(CommandDispatchTest, EveryCommandWithoutItsServiceGetsOneClearRefusal) {
  const std::vector<std::pair<Command, UnavailableFeature>> cases = {
      {Command::Power{PowerAction::lock}, Unavailable::power},
      {Command::GetVolume{}, Unavailable::volume},
      {Command::SetVolume{0.5F}, Unavailable::volume},
      {Command::SetMuted{true}, Unavailable::volume},
      {Command::GetBattery{}, Unavailable::battery},
      {Command::GetBluetoothDevices{}, Unavailable::bluetooth},
      {Command::ConnectBluetooth{"AA:BB:CC:DD:EE:FF"}, Unavailable::bluetooth},
      {Command::DisconnectBluetooth{"AA:BB:CC:DD:EE:FF"}, Unavailable::bluetooth},
      {Command::GetApps{}, Unavailable::apps},
      {Command::GetAppIcon{"org.example.App"}, Unavailable::apps},
      {Command::LaunchApp{"org.example.App"}, Unavailable::launchApp},
      {Command::SetScreenPreview{ScreenPreviewMode::screen}, Unavailable::screenPreview},
      {Command::Presentation{PresentationAction::next}, Unavailable::presentation},
      {Command::GetPresentation{}, Unavailable::presentation},
      {Command::SetLaserPointer{LaserColor::red}, Unavailable::laserPointer},
      {Command::Media{MediaAction::playPause}, Unavailable::media},
      {Command::GetNowPlaying{}, Unavailable::media},
      {Command::GetNowPlayingArtwork{}, Unavailable::media},
      {Command::SetClipboard{"hello"}, Unavailable::clipboard},
      {Command::GetClipboard{}, Unavailable::clipboard},
      {Command::GetShortcuts{}, Unavailable::shortcut},
      {Command::RunShortcut{"Focus"}, Unavailable::shortcut},
      {Command::HideApp{"org.example.App"}, Unavailable::apps},
      {Command::QuitApp{"org.example.App"}, Unavailable::apps},
      {Command::SleepDisplay{}, Unavailable::power},
      {Command::SetKeepAwake{true}, Unavailable::keepAwake},
  };
  ASSERT_EQ(cases.size(), std::variant_size_v<Command::Case>);
  for (const auto& [command, feature] : cases) {
    SCOPED_TRACE(std::string(command.caseName()));
    EXPECT_EQ(phone.exchange(command), std::vector<Message>{failed(feature)});
  }
  // A ping sent after them all is answered next: nothing was left over.
  phone.send(Message::Ping{7});
  ASSERT_TRUE(runUntil(io, [&] { return phone.received.back() == Message{Message::Pong{7}}; }));
  EXPECT_EQ(phone.received.size(), testing::PairedPhone::greetingSize + cases.size() + 1);
}

TEST_F(CommandDispatchTest, ClipboardTextIsLimitedByItsUtf8Bytes) {
  // 10000 three-byte characters are exactly the limit; one byte more is not.
  std::string limit;
  for (int i = 0; i < 10000; ++i) limit += "\u20ac";
  ASSERT_EQ(limit.size(), Clipboard::maxBytes);
  EXPECT_EQ(phone.exchange(Command::SetClipboard{limit}), std::vector<Message>{failed(Unavailable::clipboard)});
  EXPECT_EQ(phone.exchange(Command::SetClipboard{limit + "a"}),
            std::vector<Message>{failed("clipboard", "That's too much text to send in one go.")});
}

TEST_F(CommandDispatchTest, ChunksCarryOffsetsAndTheTotal) {
  Bytes data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  const std::size_t before = phone.received.size();
  runAwaitable(io, CommandDispatcher::sendChunks(data, "org.example.App", *server->liveSessions().front()));
  ASSERT_TRUE(runUntil(io, [&] { return phone.received.size() == before + 3; }));

  IconAssembler assembler;
  std::vector<std::uint32_t> offsets;
  IconAssembler::Outcome outcome = IconAssembler::Incomplete{};
  for (std::size_t i = before; i < phone.received.size(); ++i) {
    const auto& chunk = std::get<Message::AppIconChunk>(phone.received[i].value);
    EXPECT_EQ(chunk.bundleId, "org.example.App");
    EXPECT_EQ(chunk.totalBytes, 70000U);
    offsets.push_back(chunk.offset);
    outcome = assembler.accept(chunk.bundleId, chunk.totalBytes, chunk.offset, chunk.chunk);
  }
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{0, 32768, 65536}));
  EXPECT_EQ(outcome, IconAssembler::Outcome{IconAssembler::Complete{data}});

  // Nothing at all for empty data.
  runAwaitable(io, CommandDispatcher::sendChunks({}, "org.example.App", *server->liveSessions().front()));
  phone.send(Message::Ping{1});
  ASSERT_TRUE(runUntil(io, [&] { return phone.received.size() == before + 4; }));
  EXPECT_EQ(phone.received.back(), Message{Message::Pong{1}});
}

TEST_F(CommandDispatchTest, ScriptFailuresBecomeSentencesAndPermissionIsShownOncePerApp) {
  auto& commands = server->commands();
  const std::string musicReason = "Allow Glidemate to control Music in Privacy & Security \u2192 Automation.";
  EXPECT_EQ(commands.scriptFailureReason(AppleScriptRunner::Failure::notPermitted("Music")), musicReason);
  EXPECT_EQ(commands.scriptFailureReason(AppleScriptRunner::Failure::notPermitted("Music")), musicReason);
  EXPECT_EQ(commands.scriptFailureReason(AppleScriptRunner::Failure::notPermitted("Keynote")),
            "Allow Glidemate to control Keynote in Privacy & Security \u2192 Automation.");
  EXPECT_EQ(automationShownFor, (std::vector<std::string>{"Music", "Keynote"}));
  EXPECT_EQ(*commands.automationSettingsOpenedFor, (std::set<std::string>{"Keynote", "Music"}));

  EXPECT_EQ(commands.scriptFailureReason(AppleScriptRunner::Failure::failed("Keynote got an error.")),
            "Keynote got an error.");
  EXPECT_EQ(commands.scriptFailureReason(std::runtime_error("anything else")), "The Mac refused.");
}

}  // namespace
}  // namespace glidemate::host
