#pragma once

#include "kit/wire/bytes.hpp"
#include "kit/wire/message.hpp"

namespace glidemate {

// The binary form of a message: one type byte, then its fields little-endian.
class MessageCodec {
 public:
  // Never fails. A command or event that cannot be written as JSON becomes
  // its type byte alone, which receivers reject.
  static Bytes encode(const Message& message);
  // Throws CodecError: truncated, unknownMessageType, malformedRecord or
  // trailingBytes.
  static Message decode(ByteView data);
};

}  // namespace glidemate
