// A handshake record's body: the type byte, then the JSON of the message of
// that type. Whatever decodes re-encodes to a message that decodes equal.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/handshake_message.hpp"

using namespace glidemate;

namespace {

template <class M>
void roundTrip(ByteView json) {
  try {
    const M message = M::fromJson(json);
    fuzz::require(M::fromJson(message.toJson()) == message, "a decoded handshake message re-encodes to itself");
  } catch (const HandshakeError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  HandshakeBody body{};
  try {
    body = splitHandshakeBody(ByteView(data, size));
  } catch (const HandshakeError&) {
    return 0;
  }
  namespace H = HandshakeMessage;
  switch (body.type) {
    case H::Hello::type: roundTrip<H::Hello>(body.json); break;
    case H::HelloAck::type: roundTrip<H::HelloAck>(body.json); break;
    case H::PairCommit::type: roundTrip<H::PairCommit>(body.json); break;
    case H::PairReveal::type: roundTrip<H::PairReveal>(body.json); break;
    case H::Auth::type: roundTrip<H::Auth>(body.json); break;
    case H::AuthOK::type: roundTrip<H::AuthOK>(body.json); break;
    case H::Failure::type: roundTrip<H::Failure>(body.json); break;
    default: fuzz::require(false, "split accepts only the seven types");
  }
  return 0;
}
