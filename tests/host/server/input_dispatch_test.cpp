#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <unistd.h>

#include <filesystem>

#include "host/input/keyboard_failure_reply.hpp"
#include "host/input/recording_event_poster.hpp"
#include "host/server/host_server.hpp"
#include "tests/host/server/paired_phone.hpp"

namespace glidemate::host {
namespace {

using testing::runUntil;

// A paired phone connected to a host whose input goes to a recording poster.
class InputDispatchTest : public ::testing::Test {
 protected:
  asio::io_context io;
  RecordingEventPoster poster;
  testing::MemoryKeychain hostKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-dispatch-test-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  std::shared_ptr<HostServer> server =
      HostServer::make(io.get_executor(), HostServer::Configuration{
                                              .keys = hostKeys, .defaults = defaults, .logger = logger,
                                              .hostName = "Desk", .poster = &poster});
  testing::PairedPhone phone{io, *server};

  void TearDown() override { std::filesystem::remove(settings); }

  void send(Message message) { phone.send(std::move(message)); }

  std::vector<EventType> mouseTypes() const {
    std::vector<EventType> types;
    for (const auto& e : poster.events()) {
      if (const auto* m = std::get_if<MouseEvent>(&e)) types.push_back(m->type);
    }
    return types;
  }
};

TEST_F(InputDispatchTest, PointerAndButtonsReachThePoster) {
  send(Message::PointerMove{10, 5});
  send(Message::Button{MouseButton::left, true});
  ASSERT_TRUE(runUntil(io, [&] { return mouseTypes().size() == 2; }));
  EXPECT_EQ(mouseTypes(), (std::vector<EventType>{EventType::mouseMoved, EventType::leftMouseDown}));
  EXPECT_EQ(std::get<MouseEvent>(poster.events().front()).location, (ScreenPoint{10, 5}));
}

TEST_F(InputDispatchTest, AHeldButtonIsReleasedWhenThePhoneGoes) {
  send(Message::Button{MouseButton::left, true});
  ASSERT_TRUE(runUntil(io, [&] { return mouseTypes().size() == 1; }));
  phone.session->close();
  ASSERT_TRUE(runUntil(io, [&] { return mouseTypes().size() == 2; }));
  EXPECT_EQ(mouseTypes().back(), EventType::leftMouseUp);
}

TEST_F(InputDispatchTest, KeysAndTextDuringSecureEntryAreRefusedWithAReason) {
  poster.answers.secureInput = true;
  send(Message::Key{KeyboardKey::tab, KeyModifiers{}});
  send(Message::Text{"secret"});
  const auto greeting = testing::PairedPhone::greetingSize;
  ASSERT_TRUE(runUntil(io, [&] { return phone.received.size() == greeting + 2; }));
  const Message refused = Message::Event{Event::Failed{std::string(KeyboardFailureReply::command),
                                                       std::string(KeyboardFailureReply::secureInputReason)}};
  EXPECT_EQ(std::vector<Message>(phone.received.begin() + greeting, phone.received.end()),
            (std::vector<Message>{refused, refused}));
  for (const auto& e : poster.events()) EXPECT_FALSE(std::holds_alternative<KeyboardEvent>(e));
}

}  // namespace
}  // namespace glidemate::host
