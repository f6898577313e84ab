// The Bluetooth LE peripheral as phones (or anyone in radio range) drive
// it: subscriptions, writes of any size to any characteristic, a radio that
// fills up and changes state. What reaches a phone's transport is taken
// apart into records as a session's pump would, and each record is sent
// back through the fragmenting send queue. Each piece is one event; the
// tag chooses which, its bytes say to whom and what.
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/chunks.hpp"
#include "kit/transport/ble/ble_peripheral_host.hpp"
#include "kit/wire/codec_error.hpp"
#include "kit/wire/record_framer.hpp"
#include "tests/kit/transport/ble/fake_ble_peripheral_manager.hpp"

using namespace glidemate;
using Manager = BLEPeripheralManager;
using testing::FakeBLEPeripheralManager;

namespace {

std::uint8_t at(ByteView bytes, std::size_t index) { return index < bytes.size() ? bytes[index] : 0; }

Manager::Central central(ByteView bytes) {
  return Manager::Central{"PHONE-" + std::to_string(at(bytes, 0) % 3), std::size_t{at(bytes, 2)}};
}

std::string characteristic(ByteView bytes) {
  switch (at(bytes, 1) % 3) {
    case 0: return FakeBLEPeripheralManager::outbound();
    case 1: return FakeBLEPeripheralManager::inbound();
    default: return "5C3E9A7F-0000-0000-0000-000000000000";
  }
}

// A session's pump, without the session: records out of the byte stream,
// each sent back.
asio::awaitable<void> pump(std::shared_ptr<BLETransport> transport) {
  transport->start();
  RecordFramer framer;
  while (auto event = co_await transport->events().next()) {
    const auto* data = std::get_if<TransportEvent::Data>(&event->value);
    if (data == nullptr) continue;
    try {
      framer.append(data->bytes);
      while (auto record = framer.next()) {
        co_await transport->send(RecordFramer::encode(record->kind, record->body), Channel::reliable);
      }
    } catch (const CodecError&) {
      transport->close();
    }
  }
}

asio::awaitable<void> acceptEach(BLEPeripheralHost& host, asio::io_context& io) {
  while (auto transport = co_await host.connections().next()) {
    asio::co_spawn(io, pump(*transport), asio::detached);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  asio::io_context io;
  {
    FakeBLEPeripheralManager* radio = nullptr;
    BLEPeripheralHost host(io.get_executor(), "Fuzz host", FakeBLEPeripheralManager::factory(radio));
    host.start();
    asio::co_spawn(io, acceptEach(host, io), asio::detached);
    io.poll();
    fuzz::Chunks chunks(ByteView(data, size));
    while (auto chunk = chunks.next()) {
      const ByteView bytes = chunk->bytes;
      switch (chunk->tag % 6) {
        case 0: radio->setState(Manager::RadioState::poweredOn); break;
        case 1: radio->subscribe(central(bytes), characteristic(bytes)); break;
        case 2: radio->unsubscribe(central(bytes), characteristic(bytes)); break;
        case 3: {
          // Several requests in one call, as the radio may deliver them.
          std::vector<Manager::WriteRequest> requests;
          const std::size_t count = at(bytes, 3) % 3 + 1;
          const ByteView value = bytes.subspan(std::min<std::size_t>(4, bytes.size()));
          for (std::size_t i = 0; i < count; ++i) {
            std::optional<Bytes> written;
            if (at(bytes, 2) != 0xFF) written = Bytes(value.begin(), value.end());
            requests.push_back(Manager::WriteRequest{central(bytes), characteristic(bytes), written});
          }
          radio->write(requests);
          break;
        }
        case 4: radio->makeRoom(at(bytes, 0)); break;
        default: radio->setState(static_cast<Manager::RadioState>(at(bytes, 0) % 6)); break;
      }
      io.restart();
      io.poll();
    }
    host.stop();
    io.restart();
    io.poll();
  }
  io.restart();
  io.poll();
  return 0;
}
