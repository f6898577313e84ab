#include "kit/wire/byte_reader.hpp"

#include <bit>

#include "kit/wire/codec_error.hpp"

namespace glidemate {

template <class T>
T ByteReader::readLittleEndian() {
  if (remaining() < sizeof(T)) throw CodecError::truncated();
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>(value | static_cast<T>(static_cast<T>(bytes_[offset_ + i]) << (8 * i)));
  }
  offset_ += sizeof(T);
  return value;
}

std::uint8_t ByteReader::readU8() { return readLittleEndian<std::uint8_t>(); }
std::uint16_t ByteReader::readU16() { return readLittleEndian<std::uint16_t>(); }
std::uint32_t ByteReader::readU32() { return readLittleEndian<std::uint32_t>(); }
std::uint64_t ByteReader::readU64() { return readLittleEndian<std::uint64_t>(); }
float ByteReader::readFloat() { return std::bit_cast<float>(readU32()); }

ByteView ByteReader::readBytes(std::size_t count) {
  if (remaining() < count) throw CodecError::truncated();
  ByteView out = bytes_.subspan(offset_, count);
  offset_ += count;
  return out;
}

ByteView ByteReader::readRest() { return readBytes(remaining()); }

}  // namespace glidemate
