// The input of a target that takes several pieces (records, datagrams,
// radio events): each piece is a tag byte, a little-endian u16 length and
// that many bytes, fewer when the input ends first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "kit/wire/bytes.hpp"

namespace glidemate::fuzz {

struct Chunk {
  std::uint8_t tag;
  ByteView bytes;
};

class Chunks {
 public:
  explicit Chunks(ByteView input) : rest_(input) {}

  std::optional<Chunk> next() {
    if (rest_.size() < 3) return std::nullopt;
    const std::uint8_t tag = rest_[0];
    const std::size_t length = std::size_t{rest_[1]} | std::size_t{rest_[2]} << 8;
    rest_ = rest_.subspan(3);
    const ByteView bytes = rest_.subspan(0, std::min(length, rest_.size()));
    rest_ = rest_.subspan(bytes.size());
    return Chunk{tag, bytes};
  }

 private:
  ByteView rest_;
};

// Appends one piece in that form (for writing seeds).
inline void appendChunk(Bytes& out, std::uint8_t tag, ByteView bytes) {
  out.push_back(tag);
  out.push_back(static_cast<std::uint8_t>(bytes.size()));
  out.push_back(static_cast<std::uint8_t>(bytes.size() >> 8));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace glidemate::fuzz
