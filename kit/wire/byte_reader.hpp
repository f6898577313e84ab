#pragma once

#include <cstdint>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Reads little-endian values from a byte view it does not own. A read that
// needs more bytes than remain throws CodecError::truncated and leaves the
// offset where it was.
class ByteReader {
 public:
  explicit ByteReader(ByteView data) : bytes_(data) {}

  std::size_t offset() const { return offset_; }
  std::size_t remaining() const { return bytes_.size() - offset_; }

  std::uint8_t readU8();
  std::uint16_t readU16();
  std::uint32_t readU32();
  std::uint64_t readU64();
  float readFloat();
  // The next `count` bytes, as a view into the input.
  ByteView readBytes(std::size_t count);
  // Everything that is left.
  ByteView readRest();

 private:
  template <class T>
  T readLittleEndian();

  ByteView bytes_;
  std::size_t offset_ = 0;
};

}  // namespace glidemate
