// The receive side of an established session: records opened, checked
// against the replay window (datagrams) or the strict order (reliable
// channel) and decoded. Each piece is one record; its tag says
//   bit 0: it came as a datagram,
//   bit 1: seal the rest with the peer's key (8 bytes of sequence, then
//          the plaintext), so that it authenticates, instead of taking the
//          bytes as the frame,
//   bit 2: the sealed header claims the datagram channel,
//   bit 3: a handshake record instead of an encrypted one.
#include <cstddef>
#include <cstdint>

#include "fuzz/chunks.hpp"
#include "fuzz/fuzz_check.hpp"
#include "kit/session/frame_cipher.hpp"
#include "kit/session/session_keys.hpp"
#include "kit/session/session_receiver.hpp"

using namespace glidemate;

namespace {

const SessionKeys& keys() {
  static const SessionKeys made =
      SessionKeys::derive(SharedSecret(Bytes(32, 0x11)), SymmetricKey(Bytes(32, 0x22)), Bytes(32, 0x33));
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FrameCipher phone(keys(), SessionRole::client);
  FrameCipher host(keys(), SessionRole::host);
  SessionReceiver receiver;
  constexpr std::uint16_t sessionId = 0x2A;

  fuzz::Chunks chunks(ByteView(data, size));
  while (auto chunk = chunks.next()) {
    const bool datagram = (chunk->tag & 1) != 0;
    Bytes body;
    if ((chunk->tag & 2) != 0) {
      std::uint64_t sequence = 0;
      const std::size_t sequenceBytes = std::min<std::size_t>(8, chunk->bytes.size());
      for (std::size_t i = 0; i < sequenceBytes; ++i) sequence |= std::uint64_t{chunk->bytes[i]} << (8 * i);
      body = phone.seal(chunk->bytes.subspan(sequenceBytes), FrameHeader((chunk->tag & 4) != 0, sessionId, sequence));
    } else {
      body.assign(chunk->bytes.begin(), chunk->bytes.end());
    }
    const RecordKind kind = (chunk->tag & 8) != 0 ? RecordKind::handshake : RecordKind::encrypted;
    const SessionInbound inbound{Record{kind, body}, datagram ? Channel::unreliable : Channel::reliable};

    const auto outcome = receiver.accept(host, inbound);
    const bool passed = std::holds_alternative<SessionReceiver::Delivered>(outcome) ||
                        (std::holds_alternative<SessionReceiver::Dropped>(outcome) &&
                         std::get<SessionReceiver::Dropped>(outcome).authentic);
    if (datagram && passed) {
      fuzz::require(std::holds_alternative<SessionReceiver::Dropped>(receiver.accept(host, inbound)),
                    "a datagram is taken once");
    }
    if (std::holds_alternative<SessionReceiver::Ended>(outcome)) {
      fuzz::require(std::holds_alternative<SessionReceiver::Ended>(receiver.accept(host, inbound)),
                    "an ended stream stays ended");
      break;
    }
  }
  return 0;
}
