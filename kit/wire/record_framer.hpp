#pragma once

#include <cstddef>
#include <optional>

#include "kit/wire/bytes.hpp"
#include "kit/wire/record.hpp"

namespace glidemate {

// Records on a byte stream: a little-endian u16 length L (kind byte plus
// body, never 0), the kind byte, then L - 1 body bytes. The framer turns
// records into bytes and reassembles them from a stream that arrives in
// arbitrary pieces.
class RecordFramer {
 public:
  static constexpr std::size_t maxBodySize = 65534;

  // Throws CodecError::recordTooLarge for a body above maxBodySize.
  static Bytes encode(RecordKind kind, ByteView body);
  // Appends the encoded record to `out` (no intermediate buffer).
  static void encode(RecordKind kind, ByteView body, Bytes& out);
  // Appends only the head of a record whose `bodySize` bytes of body the
  // caller appends next, for a body that is made in place.
  static void encodeHead(RecordKind kind, std::size_t bodySize, Bytes& out);

  void append(ByteView data);

  // The next complete record, or nothing until more bytes arrive. A thrown
  // CodecError leaves the position unchanged, so it repeats: the stream is
  // unusable from then on.
  std::optional<Record> next();

  // The one record a datagram holds. Bytes after it that do not make up a
  // complete record are ignored; a second complete record is malformed.
  static Record decodeSingle(ByteView data);

  std::size_t bufferedBytes() const { return buffer_.size() - offset_; }

 private:
  void compact();

  Bytes buffer_;
  std::size_t offset_ = 0;
};

}  // namespace glidemate
