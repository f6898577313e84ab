// The clipboard, presentation and laser rows of the command table, through
// a real host server and a paired phone, over fake desktop services.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/input/recording_event_poster.hpp"
#include "host/input/virtual_key.hpp"
#include "host/server/host_server.hpp"
#include "host/services/apple_script_runner.hpp"
#include "kit/wire/protocol.hpp"
#include "tests/host/server/paired_phone.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runUntil;

Message failed(std::string command, std::string reason) {
  return Message::Event{Event::Failed{std::move(command), std::move(reason)}};
}

class FakeClipboard final : public ClipboardService {
 public:
  std::optional<std::string> held;
  bool refuses = false;

  asio::awaitable<void> setText(std::string text) override {
    if (refuses) throw Failure("refused");
    held = std::move(text);
    co_return;
  }
  asio::awaitable<std::optional<std::string>> text() override { co_return held; }
};

class FakePresentationBackend final : public PresentationBackend {
 public:
  std::optional<BrowserWindow> browser;
  std::optional<AppleScriptRunner::Failure> failure;
  std::vector<PresentationAction> performed;

  std::optional<Application> currentApplication() override {
    if (failure) return Application{"Keynote"};
    return std::nullopt;
  }
  PresentationStatus status(const Application&) override { throw *failure; }
  std::optional<std::uint16_t> perform(const Application&, PresentationAction action) override {
    performed.push_back(action);
    throw *failure;
  }
  std::optional<BrowserWindow> frontmostBrowserWindow() override { return browser; }
};

class FakeLaserOverlay final : public LaserOverlay {
 public:
  explicit FakeLaserOverlay(int& open) : open_(open) {}
  std::unique_ptr<LaserWindow> open(LaserColor, ScreenPoint) override { return std::make_unique<Window>(open_); }

 private:
  class Window final : public LaserWindow {
   public:
    explicit Window(int& open) : open_(open) { ++open_; }
    ~Window() override { --open_; }
    void setColor(LaserColor) override {}
    void moveTo(ScreenPoint) override {}

   private:
    int& open_;
  };
  int& open_;
};

class DesktopCommandsTest : public ::testing::Test {
 protected:
  asio::io_context io;
  glidemate::testing::MemoryKeychain hostKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-desktop-commands-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  RecordingEventPoster poster;
  std::vector<std::chrono::steady_clock::duration> waits;
  int laserWindows = 0;
  FakeClipboard* clipboard = new FakeClipboard;
  FakePresentationBackend* backend = new FakePresentationBackend;
  std::shared_ptr<HostServer> server = HostServer::make(
      io.get_executor(),
      HostServer::Configuration{.keys = hostKeys,
                                .defaults = defaults,
                                .logger = logger,
                                .hostName = "Desk",
                                .poster = &poster,
                                .sleep = [this](std::chrono::steady_clock::duration d) -> asio::awaitable<void> {
                                  waits.push_back(d);
                                  co_return;
                                }},
      services());
  std::optional<glidemate::testing::PairedPhone> phone{std::in_place, io, *server};

  HostServices services() {
    HostServices s;
    s.clipboard.reset(clipboard);
    s.presentation = std::make_unique<PresentationService>(std::unique_ptr<PresentationBackend>(backend));
    s.laser = std::make_unique<LaserPointerService>(io.get_executor(), poster,
                                                    std::make_unique<FakeLaserOverlay>(laserWindows));
    return s;
  }

  // Sends `command`, then a ping: what came before the pong is the answer.
  std::vector<Message> answer(Command command) {
    const std::size_t before = phone->received.size();
    const std::uint64_t ping = ++pings_;
    phone->send(Message::Command{std::move(command)});
    phone->send(Message::Ping{ping});
    EXPECT_TRUE(runUntil(io, [&] { return phone->received.back() == Message{Message::Pong{ping}}; }));
    return {phone->received.begin() + static_cast<std::ptrdiff_t>(before), phone->received.end() - 1};
  }

  std::vector<std::uint16_t> keysDown() const {
    std::vector<std::uint16_t> keys;
    for (const auto& event : poster.events()) {
      if (const auto* key = std::get_if<KeyboardEvent>(&event); key != nullptr && key->keyDown) {
        keys.push_back(key->virtualKey);
      }
    }
    return keys;
  }

  std::uint64_t pings_ = 0;

  void TearDown() override {
    phone.reset();
    server.reset();
    io.restart();
    io.poll();
    std::filesystem::remove(settings);
  }
};

TEST_F(DesktopCommandsTest, ClipboardTextUpToTheLimitTravelsBothWays) {
  std::string limit;
  for (int i = 0; i < 10000; ++i) limit += "\u20ac";
  ASSERT_EQ(limit.size(), Clipboard::maxBytes);

  EXPECT_TRUE(answer(Command::SetClipboard{limit}).empty());
  EXPECT_EQ(clipboard->held, limit);
  EXPECT_EQ(answer(Command::SetClipboard{limit + "a"}),
            std::vector<Message>{failed("clipboard", "That's too much text to send in one go.")});
  EXPECT_EQ(clipboard->held, limit);
  EXPECT_EQ(answer(Command::GetClipboard{}), std::vector<Message>{Message::Event{Event::Clipboard{limit}}});

  clipboard->held = limit + "\u00e9";
  EXPECT_EQ(answer(Command::GetClipboard{}),
            std::vector<Message>{failed("clipboard", "The Mac's clipboard holds too much text to send.")});
  clipboard->held.reset();
  EXPECT_EQ(answer(Command::GetClipboard{}), std::vector<Message>{Message::Event{Event::Clipboard{""}}});

  clipboard->refuses = true;
  EXPECT_EQ(answer(Command::SetClipboard{"lost?"}),
            std::vector<Message>{failed("clipboard", "The clipboard on this computer wouldn't take the text.")});
}

TEST_F(DesktopCommandsTest, ABrowserSlideshowMovesByKeysUnlessAPasswordFieldHasFocus) {
  const Message playing =
      Message::Event{Event::Presentation{{"Google Slides", true, 0, 0, "", false}}};
  EXPECT_EQ(answer(Command::Presentation{PresentationAction::next}),
            std::vector<Message>{failed("presentation", PresentationService::nothingToDrive)});
  EXPECT_TRUE(waits.empty());

  backend->browser = PresentationBackend::BrowserWindow{"Google Chrome", "Quarterly review - Google Slides", true};
  EXPECT_EQ(answer(Command::GetPresentation{}), std::vector<Message>{playing});
  EXPECT_EQ(answer(Command::Presentation{PresentationAction::next}), std::vector<Message>{playing});
  EXPECT_EQ(keysDown(), std::vector<std::uint16_t>{VirtualKey::rightArrow});
  EXPECT_EQ(waits, std::vector<std::chrono::steady_clock::duration>{CommandDispatcher::settleDelay});

  poster.answers.secureInput = true;
  EXPECT_EQ(answer(Command::Presentation{PresentationAction::previous}),
            std::vector<Message>{failed("presentation", "The Mac refused.")});
  EXPECT_EQ(keysDown(), std::vector<std::uint16_t>{VirtualKey::rightArrow});
  EXPECT_EQ(answer(Command::Presentation{PresentationAction::start}),
            std::vector<Message>{failed("presentation", PresentationService::startInBrowser)});
}

TEST_F(DesktopCommandsTest, ScriptFailuresOfPresentationsBecomeTheirReasons) {
  backend->failure = AppleScriptRunner::Failure::notPermitted("Keynote");
  const Message reason =
      failed("presentation", "Allow Glidemate to control Keynote in Privacy & Security \u2192 Automation.");
  EXPECT_EQ(answer(Command::GetPresentation{}), std::vector<Message>{reason});
  EXPECT_EQ(answer(Command::Presentation{PresentationAction::start}), std::vector<Message>{reason});
  EXPECT_EQ(backend->performed, std::vector<PresentationAction>{PresentationAction::start});
}

TEST_F(DesktopCommandsTest, ThePhonesLaserGoesWithItsStream) {
  for (int i = 0; i < 1000; ++i) {
    const std::optional<LaserColor> color =
        i % 2 == 0 ? std::optional(i % 4 == 0 ? LaserColor::red : LaserColor::green) : std::nullopt;
    phone->send(Message::Command{Command::SetLaserPointer{color}});
  }
  EXPECT_TRUE(answer(Command::SetLaserPointer{LaserColor::red}).empty());
  EXPECT_EQ(laserWindows, 1);
  EXPECT_TRUE(poster.cursorHidden());

  phone->session->close();
  EXPECT_TRUE(runUntil(io, [&] { return server->liveSessions().empty(); }));
  EXPECT_EQ(laserWindows, 0);
  EXPECT_FALSE(poster.cursorHidden());
}

}  // namespace
}  // namespace glidemate::host
