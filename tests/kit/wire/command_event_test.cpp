#include <gtest/gtest.h>

#include <cmath>

#include "kit/wire/command.hpp"
#include "kit/wire/event.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

TEST(Command, JsonFormsOfEveryCase) {
  struct Case {
    Command command;
    std::string json;
  };
  const std::vector<Case> cases{
      {Command::Power{PowerAction::lock}, R"({"power":{"_0":"lock"}})"},
      {Command::GetVolume{}, R"({"getVolume":{}})"},
      {Command::SetVolume{0.5f}, R"({"setVolume":{"_0":0.5}})"},
      {Command::SetMuted{true}, R"({"setMuted":{"_0":true}})"},
      {Command::GetBattery{}, R"({"getBattery":{}})"},
      {Command::GetBluetoothDevices{}, R"({"getBluetoothDevices":{}})"},
      {Command::ConnectBluetooth{"aa-bb"}, R"({"connectBluetooth":{"address":"aa-bb"}})"},
      {Command::DisconnectBluetooth{"aa-bb"}, R"({"disconnectBluetooth":{"address":"aa-bb"}})"},
      {Command::GetApps{}, R"({"getApps":{}})"},
      {Command::GetAppIcon{"org.x"}, R"({"getAppIcon":{"bundleId":"org.x"}})"},
      {Command::LaunchApp{"org.x"}, R"({"launchApp":{"bundleId":"org.x"}})"},
      {Command::SetScreenPreview{ScreenPreviewMode::cursor}, R"({"setScreenPreview":{"_0":2}})"},
      {Command::Presentation{PresentationAction::next}, R"({"presentation":{"_0":"next"}})"},
      {Command::GetPresentation{}, R"({"getPresentation":{}})"},
      {Command::SetLaserPointer{LaserColor::red}, R"({"setLaserPointer":{"_0":"red"}})"},
      {Command::SetLaserPointer{std::nullopt}, R"({"setLaserPointer":{}})"},
      {Command::Media{MediaAction::playPause}, R"({"media":{"_0":"playPause"}})"},
      {Command::GetNowPlaying{}, R"({"getNowPlaying":{}})"},
      {Command::GetNowPlayingArtwork{}, R"({"getNowPlayingArtwork":{}})"},
      {Command::SetClipboard{"a \"b\"\n"}, R"({"setClipboard":{"_0":"a \"b\"\n"}})"},
      {Command::GetClipboard{}, R"({"getClipboard":{}})"},
      {Command::GetShortcuts{}, R"({"getShortcuts":{}})"},
      {Command::RunShortcut{"Focus"}, R"({"runShortcut":{"name":"Focus"}})"},
      {Command::HideApp{"org.x"}, R"({"hideApp":{"bundleId":"org.x"}})"},
      {Command::QuitApp{"org.x"}, R"({"quitApp":{"bundleId":"org.x"}})"},
      {Command::SleepDisplay{}, R"({"sleepDisplay":{}})"},
      {Command::SetKeepAwake{false}, R"({"setKeepAwake":{"_0":false}})"},
  };
  std::set<std::size_t> seen;
  for (const auto& c : cases) {
    EXPECT_EQ(c.command.toJson(), c.json);
    EXPECT_EQ(Command::fromJson(c.json), c.command) << c.json;
    seen.insert(c.command.value.index());
  }
  EXPECT_EQ(seen.size(), std::variant_size_v<Command::Case>);
}

TEST(Event, JsonFormsOfEveryCase) {
  struct Case {
    Event event;
    std::string json;
  };
  const std::vector<Case> cases{
      {Event::Volume{{0.5f, false, "Speakers", true}},
       R"({"volume":{"_0":{"level":0.5,"isMuted":false,"deviceName":"Speakers","canAdjust":true}}})"},
      {Event::Battery{{true, 80, false, std::nullopt, std::nullopt}},
       R"({"battery":{"_0":{"isPresent":true,"percent":80,"isCharging":false}}})"},
      {Event::Battery{{true, 5, true, 812, "Normal"}},
       R"({"battery":{"_0":{"isPresent":true,"percent":5,"isCharging":true,"cycleCount":812,"condition":"Normal"}}})"},
      {Event::BluetoothDevices{{{"a1", "Mouse", true, 40}, {"b2", "Keys", false, std::nullopt}}},
       R"({"bluetoothDevices":{"_0":[{"address":"a1","name":"Mouse","isConnected":true,"batteryPercent":40},{"address":"b2","name":"Keys","isConnected":false}]}})"},
      {Event::Apps{{{"org.x", "X", true}}},
       R"({"apps":{"_0":[{"bundleId":"org.x","name":"X","isRunning":true}]}})"},
      {Event::ThreeFingerDragEnabled{true}, R"({"threeFingerDragEnabled":{"_0":true}})"},
      {Event::Presentation{{"Keynote", true, 3, 12, "Hi", true}},
       R"({"presentation":{"_0":{"app":"Keynote","isPlaying":true,"slideIndex":3,"slideCount":12,"notes":"Hi","notesAvailable":true}}})"},
      {Event::NowPlaying{{std::nullopt, "T", "A", "B", false, "k1"}},
       R"({"nowPlaying":{"_0":{"title":"T","artist":"A","album":"B","isPlaying":false,"artworkKey":"k1"}}})"},
      {Event::Clipboard{"é"}, "{\"clipboard\":{\"_0\":\"é\"}}"},
      {Event::Shortcuts{{"One", "Two"}}, R"({"shortcuts":{"_0":["One","Two"]}})"},
      {Event::KeepAwake{true}, R"({"keepAwake":{"_0":true}})"},
      {Event::Failed{"Volume", "Nope."}, R"({"failed":{"command":"Volume","reason":"Nope."}})"},
  };
  std::set<std::size_t> seen;
  for (const auto& c : cases) {
    EXPECT_EQ(c.event.toJson(), c.json);
    EXPECT_EQ(Event::fromJson(c.json), c.event) << c.json;
    seen.insert(c.event.value.index());
  }
  EXPECT_EQ(seen.size(), std::variant_size_v<Event::Case>);
}

TEST(Command, AcceptsNullAndExtraKeysAndIntegersForFloats) {
  EXPECT_EQ(Command::fromJson(R"({"setLaserPointer":{"_0":null}})"),
            Command(Command::SetLaserPointer{std::nullopt}));
  EXPECT_EQ(Command::fromJson(R"({"getVolume":{"extra":1}})"), Command(Command::GetVolume{}));
  EXPECT_EQ(Command::fromJson(R"( {"setVolume":{"_0":1}} )"), Command(Command::SetVolume{1.0f}));
  EXPECT_EQ(Event::fromJson(R"({"battery":{"_0":{"isPresent":false,"isCharging":false,"percent":null}}})"),
            Event(Event::Battery{{false, std::nullopt, false, std::nullopt, std::nullopt}}));
}

TEST(Command, RejectsEverythingElse) {
  const std::vector<std::string> bad{
      "",
      "[]",
      "{}",
      R"({"getVolume":{},"getBattery":{}})",
      R"({"reboot":{}})",
      R"({"GetVolume":{}})",
      R"({"getVolume":[]})",
      R"({"getVolume":null})",
      R"({"setScreenPreview":{"_0":"cursor"}})",
      R"({"setScreenPreview":{"_0":3}})",
      R"({"setScreenPreview":{"_0":-1}})",
      R"({"setScreenPreview":{"_0":1.5}})",
      R"({"power":{"_0":"hibernate"}})",
      R"({"power":{}})",
      R"({"setVolume":{"_0":"0.5"}})",
      R"({"setVolume":{"_0":1e39}})",
      R"({"setMuted":{"_0":1}})",
      R"({"connectBluetooth":{"_0":"aa"}})",
      R"({"connectBluetooth":{"address":7}})",
      R"({"setLaserPointer":{"_0":"blue"}})",
      R"({"getVolume":{}} trailing)",
  };
  for (const auto& json : bad) {
    EXPECT_TRUE(testing::thrown<JsonCodingError>([&] { Command::fromJson(json); })) << json;
  }
}

TEST(Event, RejectsMissingRequiredKeysAndWrongTypes) {
  const std::vector<std::string> bad{
      R"({"failed":{"_0":"Volume","_1":"x"}})",
      R"({"failed":{"command":"Volume"}})",
      R"({"volume":{"_0":{"level":0.5,"isMuted":false,"deviceName":"x"}}})",
      R"({"battery":{"_0":{"isPresent":true,"isCharging":false,"percent":80.5}}})",
      R"({"battery":{"_0":{"isPresent":true,"isCharging":false,"percent":9223372036854775808}}})",
      R"({"apps":{"_0":{"bundleId":"x","name":"x","isRunning":true}}})",
      R"({"shortcuts":{"_0":["a",1]}})",
  };
  for (const auto& json : bad) {
    EXPECT_TRUE(testing::thrown<JsonCodingError>([&] { Event::fromJson(json); })) << json;
  }
}

TEST(Command, NonFiniteFloatCannotBeWritten) {
  EXPECT_TRUE(testing::thrown<JsonCodingError>([] { Command(Command::SetVolume{NAN}).toJson(); }));
}

TEST(Command, CaseNames) {
  EXPECT_EQ(Command(Command::GetNowPlayingArtwork{}).caseName(), "getNowPlayingArtwork");
  EXPECT_EQ(Event(Event::ThreeFingerDragEnabled{true}).caseName(), "threeFingerDragEnabled");
}

}  // namespace
}  // namespace glidemate
