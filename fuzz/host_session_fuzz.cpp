// A host-role session fed records over the in-memory transport, as a phone
// (or anyone) would send them: the first byte chooses the host's mode (a
// stored key for the phone, or pairing with a code), then each piece is a
// send on the reliable stream (even tag) or a datagram (odd tag). The
// random source is repeatable, so handshakes recorded against this host
// (the seeds) get through to the established session and its messages.
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/chunks.hpp"
#include "fuzz/deterministic_random.hpp"
#include "fuzz/fuzz_session.hpp"
#include "kit/session/session.hpp"
#include "kit/transport/in_memory_transport.hpp"

using namespace glidemate;

namespace {

asio::awaitable<void> drain(std::shared_ptr<Transport> transport) {
  while (co_await transport->events().next()) {
  }
}

asio::awaitable<void> deliver(std::shared_ptr<Transport> phone, Bytes bytes, Channel channel) {
  try {
    co_await phone->send(std::move(bytes), channel);
  } catch (const std::exception&) {
  }
}

void settle(asio::io_context& io) {
  io.restart();
  io.poll();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::DeterministicRandom::install();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto mode = data[0] % 2 == 0 ? fuzz::HandshakeMode::storedKey : fuzz::HandshakeMode::pairing;
  fuzz::DeterministicRandom::reset(fuzz::hostSeed);
  asio::io_context io;
  {
    auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {TransportKind::lan, true});
    auto host = Session::make(io.get_executor(), hostEnd, Session::Role::host, fuzz::fuzzHost,
                              std::make_shared<fuzz::FixedPairing>(mode, fuzz::fuzzPhone.id));
    std::shared_ptr<Transport> phone = phoneEnd;
    asio::co_spawn(io, fuzz::serveAsHost(host), asio::detached);
    asio::co_spawn(io, drain(phone), asio::detached);
    phone->start();
    settle(io);
    fuzz::Chunks chunks(ByteView(data + 1, size - 1));
    while (auto chunk = chunks.next()) {
      const Channel channel = chunk->tag % 2 == 0 ? Channel::reliable : Channel::unreliable;
      asio::co_spawn(io, deliver(phone, Bytes(chunk->bytes.begin(), chunk->bytes.end()), channel), asio::detached);
      settle(io);
    }
    host->close();
    phone->close();
    settle(io);
  }
  settle(io);
  return 0;
}
