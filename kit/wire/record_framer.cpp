#include "kit/wire/record_framer.hpp"

#include "kit/wire/codec_error.hpp"

namespace glidemate {
namespace {

// Below this many consumed bytes the framer keeps them in front of a partial
// record rather than moving the partial down on every call.
constexpr std::size_t compactionThreshold = 4096;

}  // namespace

void RecordFramer::encode(RecordKind kind, ByteView body, Bytes& out) {
  encodeHead(kind, body.size(), out);
  out.insert(out.end(), body.begin(), body.end());
}

void RecordFramer::encodeHead(RecordKind kind, std::size_t bodySize, Bytes& out) {
  if (bodySize > maxBodySize) {
    throw CodecError::recordTooLarge(static_cast<std::int64_t>(bodySize));
  }
  const auto length = static_cast<std::uint16_t>(bodySize + 1);
  out.reserve(out.size() + bodySize + 3);
  out.push_back(static_cast<std::uint8_t>(length & 0xFF));
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(kind));
}

Bytes RecordFramer::encode(RecordKind kind, ByteView body) {
  Bytes out;
  encode(kind, body, out);
  return out;
}

void RecordFramer::append(ByteView data) { buffer_.insert(buffer_.end(), data.begin(), data.end()); }

std::optional<Record> RecordFramer::next() {
  const std::size_t available = buffer_.size() - offset_;
  if (available < 2) {
    compact();
    return std::nullopt;
  }
  const std::size_t length =
      static_cast<std::size_t>(buffer_[offset_]) | (static_cast<std::size_t>(buffer_[offset_ + 1]) << 8);
  if (length == 0) throw CodecError::malformedRecord();
  if (available < length + 2) {
    compact();
    return std::nullopt;
  }
  const std::uint8_t kind = buffer_[offset_ + 2];
  if (kind > 1) throw CodecError::unknownRecordKind(kind);
  const auto bodyStart = buffer_.begin() + static_cast<std::ptrdiff_t>(offset_ + 3);
  Record record{static_cast<RecordKind>(kind),
                Bytes(bodyStart, bodyStart + static_cast<std::ptrdiff_t>(length - 1))};
  offset_ += length + 2;
  return record;
}

void RecordFramer::compact() {
  if (offset_ == 0) return;
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  } else if (offset_ >= compactionThreshold) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset_));
    offset_ = 0;
  }
}

Record RecordFramer::decodeSingle(ByteView data) {
  RecordFramer framer;
  framer.append(data);
  auto first = framer.next();
  if (!first) throw CodecError::truncated();
  if (framer.next()) throw CodecError::malformedRecord();
  return std::move(*first);
}

}  // namespace glidemate
