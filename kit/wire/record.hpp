#pragma once

#include <cstdint>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// A record carries either one handshake message or one protected frame.
enum class RecordKind : std::uint8_t {
  handshake = 0,
  encrypted = 1,
};

struct Record {
  RecordKind kind = RecordKind::handshake;
  Bytes body;
  bool operator==(const Record&) const = default;
};

}  // namespace glidemate
