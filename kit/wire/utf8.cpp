#include "kit/wire/utf8.hpp"

namespace glidemate {
namespace {

// The length of the well-formed sequence that starts at `i`, or 0.
std::size_t sequenceLength(ByteView bytes, std::size_t i) {
  const std::uint8_t b = bytes[i];
  if (b < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;   // overlong
    if (b == 0xED) high = 0x9F;  // surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;   // overlong
    if (b == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() - i < length) return 0;
  if (bytes[i + 1] < low || bytes[i + 1] > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return 0;
  }
  return length;
}

ByteView view(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool isValidUtf8(ByteView bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = sequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string validUtf8(std::string_view text) {
  const ByteView bytes = view(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = sequenceLength(bytes, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  // Back up over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<std::uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace glidemate
