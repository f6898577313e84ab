#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Appends little-endian integers and floats to a growing byte buffer.
class ByteWriter {
 public:
  explicit ByteWriter(std::size_t capacity = 0) { data_.reserve(capacity); }

  void write(std::uint8_t value) { data_.push_back(value); }
  void write(std::uint16_t value) { writeLittleEndian(value); }
  void write(std::uint32_t value) { writeLittleEndian(value); }
  void write(std::uint64_t value) { writeLittleEndian(value); }
  void write(float value) { writeLittleEndian(std::bit_cast<std::uint32_t>(value)); }
  void write(ByteView bytes) { data_.insert(data_.end(), bytes.begin(), bytes.end()); }

  const Bytes& data() const& { return data_; }
  Bytes data() && { return std::move(data_); }

 private:
  template <class T>
  void writeLittleEndian(T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      data_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
  }

  Bytes data_;
};

}  // namespace glidemate
