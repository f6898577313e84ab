// The host program driving the desktop's real sound server and (mocked)
// BlueZ for the command-line phone, each a separate process.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/bluez_devices_mock.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/pulse_audio_daemon.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate {
namespace {

using testing::ChildProcess;

class StatusProgramTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::PulseAudioDaemon pulse;
  testing::PrivateBus systemBus{testing::PrivateBus::Type::system};
  testing::BlueZDevicesMock bluez{systemBus};
  std::unique_ptr<ChildProcess> host;
  std::string address;

  void SetUp() override {
    bluez.addPaired("AA:BB:CC:DD:EE:01", "mouse");
    bluez.connect("AA:BB:CC:DD:EE:01");
    bluez.addPaired("AA:BB:CC:DD:EE:02", "Keyboard");
    bluez.addBattery(bluez.addPaired("AA:BB:CC:DD:EE:03", "airpods"), sdbus::Variant(std::uint8_t{80}));
    bluez.connect("AA:BB:CC:DD:EE:03");

    auto environment = pulse.environment();
    environment.push_back(systemBus.environment());
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{GLIDEMATE_HOST_BIN, "--no-advertise", "--input", "none", "--json", "--data-dir",
                                 dir / "host"},
        environment, true, true);
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

  // A phone that sends `items` and stays connected, printing what comes;
  // the test stops it once it has read what it waits for.
  std::unique_ptr<ChildProcess> connectedPhone(std::vector<std::string> items) {
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), items.begin(), items.end());
    args.insert(args.end(), {"--wait", "600000"});
    return std::make_unique<ChildProcess>(phone(args), std::vector<std::string>{}, true);
  }

  // The value of the next event of that kind the phone printed.
  static nlohmann::json nextEvent(ChildProcess& p, const std::string& name) {
    const std::string line = p.readLineContaining("{\"event\":{\"" + name + "\"");
    if (line.empty()) return nullptr;
    return nlohmann::json::parse(line)["event"][name]["_0"];
  }
};

TEST_F(StatusProgramTest, ThePhoneSetsAndReadsTheVolumeOfTheSoundServer) {
  auto p = connectedPhone({R"({"setVolume":{"_0":0.3}})", R"({"setMuted":{"_0":true}})", R"({"getVolume":{}})",
                           R"({"getBattery":{}})"});
  auto reply = nextEvent(*p, "volume");
  ASSERT_FALSE(reply.is_null());
  EXPECT_NEAR(reply["level"].get<double>(), 0.3, 1e-4);
  EXPECT_EQ(reply["deviceName"], "Null Output");
  EXPECT_EQ(reply["canAdjust"], true);
  // Further volume events (the replies, and the change as every phone hears
  // it) until the mute shows.
  while (!reply.is_null() && reply["isMuted"] != true) reply = nextEvent(*p, "volume");
  ASSERT_FALSE(reply.is_null());
  EXPECT_NEAR(reply["level"].get<double>(), 0.3, 1e-4);
  EXPECT_TRUE(nextEvent(*p, "battery").contains("isPresent"));
  p->stop();

  EXPECT_NE(pulse.pactl({"get-sink-volume", "null"}).find("/  30% /"), std::string::npos);
  EXPECT_EQ(pulse.pactl({"get-sink-mute", "null"}), "Mute: yes\n");
}

TEST_F(StatusProgramTest, AVolumeChangeMadeOnTheComputerReachesTheConnectedPhone) {
  auto p = connectedPhone({"ping"});
  // Answered: the phone's session is live.
  ASSERT_FALSE(p->readLineContaining("\"pong\"").empty());
  pulse.pactl({"set-sink-volume", "@DEFAULT_SINK@", "65%"});
  const auto changed = nextEvent(*p, "volume");
  ASSERT_FALSE(changed.is_null());
  EXPECT_NEAR(changed["level"].get<double>(), 0.65, 1e-4);
  EXPECT_EQ(changed["isMuted"], false);
}

TEST_F(StatusProgramTest, BluetoothDevicesAreListedWithTheirBatteryAndConnect) {
  auto p = connectedPhone({R"({"getBluetoothDevices":{}})", R"({"connectBluetooth":{"address":"aa-bb-cc-dd-ee-02"}})"});
  using Json = nlohmann::json;
  const auto device = [](const char* at, const char* name, bool connected, Json battery) {
    // An unknown battery is left out.
    Json d{{"address", at}, {"name", name}, {"isConnected", connected}};
    if (!battery.is_null()) d["batteryPercent"] = battery;
    return d;
  };
  EXPECT_EQ(nextEvent(*p, "bluetoothDevices"), (Json{device("AA:BB:CC:DD:EE:03", "airpods", true, 80),
                                                     device("AA:BB:CC:DD:EE:01", "mouse", true, nullptr),
                                                     device("AA:BB:CC:DD:EE:02", "Keyboard", false, nullptr)}));
  EXPECT_EQ(nextEvent(*p, "bluetoothDevices"), (Json{device("AA:BB:CC:DD:EE:03", "airpods", true, 80),
                                                     device("AA:BB:CC:DD:EE:02", "Keyboard", true, nullptr),
                                                     device("AA:BB:CC:DD:EE:01", "mouse", true, nullptr)}));
}

}  // namespace
}  // namespace glidemate
