// The binary message codec: whatever decodes re-encodes to a form that
// decodes to the same encoding again.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.hpp"
#include "kit/wire/codec_error.hpp"
#include "kit/wire/json_error.hpp"
#include "kit/wire/message_codec.hpp"

using namespace glidemate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes once;
  try {
    once = MessageCodec::encode(MessageCodec::decode(ByteView(data, size)));
  } catch (const CodecError&) {
    return 0;
  } catch (const JsonCodingError&) {
    return 0;
  }
  // Compared as encodings: a decoded float may be NaN, which equals nothing.
  const Bytes twice = MessageCodec::encode(MessageCodec::decode(once));
  fuzz::require(once == twice, "a decoded message re-encodes stably");
  return 0;
}
