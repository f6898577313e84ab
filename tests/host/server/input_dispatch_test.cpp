#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <unistd.h>

#include <filesystem>

#include "host/input/keyboard_failure_reply.hpp"
#include "host/input/recording_event_poster.hpp"
#include "host/server/host_server.hpp"
#include "kit/transport/in_memory_transport.hpp"
#include "phone/phone_pairing.hpp"
#include "tests/support/memory_keychain.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using testing::runUntil;

// A paired phone connected to a host whose input goes to a recording poster.
class InputDispatchTest : public ::testing::Test {
 protected:
  asio::io_context io;
  RecordingEventPoster poster;
  testing::MemoryKeychain hostKeys;
  testing::MemoryKeychain phoneKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-dispatch-test-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  std::shared_ptr<HostServer> server =
      HostServer::make(io.get_executor(), HostServer::Configuration{
                                              .keys = hostKeys, .defaults = defaults, .logger = logger,
                                              .hostName = "Desk", .poster = &poster});
  KeychainStore phoneStore{phone::PhonePairing::service, phoneKeys};
  std::shared_ptr<Session> phone;
  std::vector<Message> received;

  void SetUp() override {
    auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {});
    server->accept(hostEnd);
    auto pairing = std::make_shared<phone::PhonePairing>(
        phoneStore, [this](const PeerInfo&) { return server->pairing.activeCode.get(); });
    phone = Session::make(io.get_executor(), phoneEnd, Session::Role::client, PeerInfo{"P", "Phone"}, pairing);
    bool ready = false;
    asio::co_spawn(io, [](std::shared_ptr<Session> s, bool& done, std::vector<Message>& out) -> asio::awaitable<void> {
      co_await s->performHandshake();
      done = true;
      auto incoming = s->messages();
      while (auto m = co_await incoming.next()) out.push_back(*m);
    }(phone, ready, received), asio::detached);
    ASSERT_TRUE(runUntil(io, [&] { return ready && server->liveSessions().size() == 1; }));
  }
  void TearDown() override { std::filesystem::remove(settings); }

  void send(Message message) {
    bool sent = false;
    asio::co_spawn(io, [](std::shared_ptr<Session> s, Message m, bool& done) -> asio::awaitable<void> {
      co_await s->send(std::move(m));
      done = true;
    }(phone, std::move(message), sent), asio::detached);
    ASSERT_TRUE(runUntil(io, [&] { return sent; }));
  }

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
  phone->close();
  ASSERT_TRUE(runUntil(io, [&] { return mouseTypes().size() == 2; }));
  EXPECT_EQ(mouseTypes().back(), EventType::leftMouseUp);
}

TEST_F(InputDispatchTest, KeysAndTextDuringSecureEntryAreRefusedWithAReason) {
  poster.answers.secureInput = true;
  send(Message::Key{KeyboardKey::tab, KeyModifiers{}});
  send(Message::Text{"secret"});
  ASSERT_TRUE(runUntil(io, [&] { return received.size() == 2; }));
  const Message refused = Message::Event{Event::Failed{std::string(KeyboardFailureReply::command),
                                                       std::string(KeyboardFailureReply::secureInputReason)}};
  EXPECT_EQ(received, (std::vector<Message>{refused, refused}));
  for (const auto& e : poster.events()) EXPECT_FALSE(std::holds_alternative<KeyboardEvent>(e));
}

}  // namespace
}  // namespace glidemate::host
