// Test helper: a phone paired with a host server over in-memory transports,
// collecting everything the host sends it.
#pragma once

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include "host/server/host_server.hpp"
#include "kit/transport/in_memory_transport.hpp"
#include "phone/phone_pairing.hpp"
#include "tests/support/memory_keychain.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::testing {

class PairedPhone {
 public:
  // Pairs with the code the server shows and waits until the session is
  // established on both sides and the greeting has arrived.
  PairedPhone(asio::io_context& io, host::HostServer& server, std::string id = "P", std::string name = "Phone")
      : io_(io) {
    auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {});
    const std::size_t sessionsBefore = server.liveSessions().size();
    server.accept(hostEnd);
    auto pairing = std::make_shared<phone::PhonePairing>(
        store_, [&server](const PeerInfo&) { return server.pairing.activeCode.get(); });
    session = Session::make(io.get_executor(), phoneEnd, Session::Role::client, PeerInfo{id, name}, pairing);
    asio::co_spawn(io, [](std::shared_ptr<Session> s, bool& ready, std::vector<Message>& out) -> asio::awaitable<void> {
      co_await s->performHandshake();
      ready = true;
      auto incoming = s->messages();
      while (auto m = co_await incoming.next()) out.push_back(*m);
    }(session, ready_, received), asio::detached);
    EXPECT_TRUE(runUntil(io, [&] {
      return ready_ && server.liveSessions().size() == sessionsBefore + 1 && received.size() >= greetingSize;
    }));
  }

  // The events every phone gets first: three-finger drag and keep-awake.
  static constexpr std::size_t greetingSize = 2;

  void send(Message message) {
    bool sent = false;
    asio::co_spawn(io_, [](std::shared_ptr<Session> s, Message m, bool& done) -> asio::awaitable<void> {
      co_await s->send(std::move(m));
      done = true;
    }(session, std::move(message), sent), asio::detached);
    ASSERT_TRUE(runUntil(io_, [&] { return sent; }));
  }

  // Sends `command` and waits until `count` more messages have arrived.
  std::vector<Message> exchange(Command command, std::size_t count = 1) {
    const std::size_t before = received.size();
    send(Message::Command{std::move(command)});
    EXPECT_TRUE(runUntil(io_, [&] { return received.size() >= before + count; }));
    return {received.begin() + static_cast<std::ptrdiff_t>(before), received.end()};
  }

  std::shared_ptr<Session> session;
  std::vector<Message> received;

 private:
  asio::io_context& io_;
  MemoryKeychain keys_;
  KeychainStore store_{phone::PhonePairing::service, keys_};
  bool ready_ = false;
};

}  // namespace glidemate::testing
