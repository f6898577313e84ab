#include "host/x11/x11_text.hpp"

#include "kit/wire/utf8.hpp"

namespace glidemate::host {

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::string utf8ToLatin1(std::string_view text) {
  const std::string valid = validUtf8(text);
  std::string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size();) {
    const auto lead = static_cast<unsigned char>(valid[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
    } else if (lead < 0xE0) {
      // Two bytes: U+0080 to U+07FF, of which U+0080 to U+00FF are Latin-1.
      const unsigned code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(valid[i + 1]) & 0x3Fu);
      out.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
      i += 2;
    } else {
      out.push_back('?');
      i += lead < 0xF0 ? 3 : 4;
    }
  }
  return out;
}

}  // namespace glidemate::host
