// The volume, battery and Bluetooth rows of the command table, over the
// services with fake ports, and the volume broadcast.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/server/host_server.hpp"
#include "host/services/audio/fake_audio_output.hpp"
#include "host/services/battery/fake_power_sources.hpp"
#include "host/services/bluetooth/fake_bluetooth_system.hpp"
#include "tests/host/server/paired_phone.hpp"

namespace glidemate::host {
namespace {

using testing::runUntil;

Message volume(float level, bool muted) {
  return Message::Event{Event::Volume{VolumeStatus{level, muted, "Speakers", true}}};
}

class StatusCommandsTest : public ::testing::Test {
 protected:
  asio::io_context io;
  testing::MemoryKeychain hostKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-status-test-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  std::shared_ptr<FakeAudioOutput> output =
      std::make_shared<FakeAudioOutput>(AudioOutput::Device{3, 0.5f, true, "Speakers"});
  std::shared_ptr<FakeBluetoothSystem> bluetooth = std::make_shared<FakeBluetoothSystem>(std::vector<BluetoothSystem::Device>{
      {"/mouse", "AA:BB:CC:DD:EE:01", "mouse", true, std::nullopt},
      {"/keyboard", "AA:BB:CC:DD:EE:02", "Keyboard", false, 55},
  });
  std::shared_ptr<HostServer> server = makeServer();
  testing::PairedPhone phone{io, *server};

  std::shared_ptr<HostServer> makeServer() {
    HostServices services;
    services.audio = std::make_unique<AudioService>(io.get_executor(), output);
    services.battery = std::make_unique<BatteryService>(std::make_unique<FakePowerSources>(
        std::vector<PowerSources::Source>{{true, true, 4321, 5000, std::nullopt, false, 300, "Good"}}));
    services.bluetooth = std::make_unique<BluetoothService>(bluetooth);
    auto s = HostServer::make(io.get_executor(),
                              HostServer::Configuration{.keys = hostKeys, .defaults = defaults, .logger = logger, .hostName = "Desk"},
                              std::move(services));
    s->start();
    return s;
  }

  void TearDown() override {
    server.reset();
    io.restart();
    io.poll();
    std::filesystem::remove(settings);
  }
};

TEST_F(StatusCommandsTest, VolumeCommandsAnswerWithTheStateAfterwards) {
  EXPECT_EQ(phone.exchange(Command::GetVolume{}), std::vector<Message>{volume(0.5f, true)});
  // Raising unmutes, and the level is clamped on the way.
  EXPECT_EQ(phone.exchange(Command::SetVolume{1.5f}), std::vector<Message>{volume(1.0f, false)});
  EXPECT_EQ(phone.exchange(Command::SetMuted{true}), std::vector<Message>{volume(1.0f, true)});
  EXPECT_EQ(output->volumeWrites, (std::vector<FakeAudioOutput::VolumeWrite>{{3, 1.0f}}));
}

TEST_F(StatusCommandsTest, BatteryIsReported) {
  const Message battery = Message::Event{Event::Battery{BatteryStatus{true, 86, false, 300, "Good"}}};
  EXPECT_EQ(phone.exchange(Command::GetBattery{}), std::vector<Message>{battery});
}

TEST_F(StatusCommandsTest, BluetoothCommandsAnswerWithTheListAfterwards) {
  const auto listed = [](bool keyboardConnected) {
    std::vector<BluetoothDeviceInfo> devices{{"AA:BB:CC:DD:EE:01", "mouse", true, std::nullopt},
                                             {"AA:BB:CC:DD:EE:02", "Keyboard", keyboardConnected, 55}};
    if (keyboardConnected) std::swap(devices[0], devices[1]);
    return std::vector<Message>{Message::Event{Event::BluetoothDevices{devices}}};
  };
  EXPECT_EQ(phone.exchange(Command::GetBluetoothDevices{}), listed(false));
  EXPECT_EQ(phone.exchange(Command::ConnectBluetooth{"aa-bb-cc-dd-ee-02"}), listed(true));
  EXPECT_EQ(phone.exchange(Command::DisconnectBluetooth{"AA:BB:CC:DD:EE:02"}), listed(false));
  // An address that is not paired still gets the list, and nothing is tried.
  EXPECT_EQ(phone.exchange(Command::ConnectBluetooth{"00:00:00:00:00:00"}), listed(false));
  EXPECT_EQ(bluetooth->connected, std::vector<std::string>{"/keyboard"});
}

TEST_F(StatusCommandsTest, AVolumeChangeOnTheComputerReachesEveryPhone) {
  testing::PairedPhone second{io, *server, "Q", "Second phone"};
  const std::size_t firstBefore = phone.received.size();
  output->device->volume = 0.25f;
  output->notify();
  ASSERT_TRUE(runUntil(io, [&] {
    return phone.received.size() > firstBefore && second.received.size() > testing::PairedPhone::greetingSize;
  }));
  EXPECT_EQ(phone.received.back(), volume(0.25f, true));
  EXPECT_EQ(second.received.back(), volume(0.25f, true));
}

}  // namespace
}  // namespace glidemate::host
