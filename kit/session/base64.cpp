#include "kit/session/base64.hpp"

#include <openssl/evp.h>

#include <climits>

namespace glidemate::Base64 {
namespace {

bool inAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Feeds the library at most this many input bytes at a time (its lengths
// are int); a multiple of 3 so that no padding appears mid-stream.
constexpr std::size_t encodeChunk = 3 * (1 << 20);
constexpr std::size_t decodeChunk = 4 * (1 << 20);

}  // namespace

std::string encode(ByteView bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  while (!bytes.empty()) {
    const std::size_t chunk = std::min(bytes.size(), encodeChunk);
    const std::size_t start = out.size();
    out.resize(start + (chunk + 2) / 3 * 4 + 1);
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + start), bytes.data(),
                                        static_cast<int>(chunk));
    out.resize(start + static_cast<std::size_t>(written));
    bytes = bytes.subspan(chunk);
  }
  return out;
}

std::optional<Bytes> decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    if (!inAlphabet(text[i])) return std::nullopt;
  }
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  while (!text.empty()) {
    const std::string_view chunk = text.substr(0, decodeChunk);
    const std::size_t start = out.size();
    out.resize(start + chunk.size() / 4 * 3);
    const int written = EVP_DecodeBlock(out.data() + start, reinterpret_cast<const unsigned char*>(chunk.data()),
                                        static_cast<int>(chunk.size()));
    if (written < 0) return std::nullopt;
    text.remove_prefix(chunk.size());
  }
  // The library counts the zero bytes the padding stands for.
  out.resize(out.size() - padding);
  return out;
}

}  // namespace glidemate::Base64
