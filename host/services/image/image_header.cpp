#include "host/services/image/image_header.hpp"

#include <algorithm>
#include <array>

namespace glidemate::host {
namespace {

std::uint32_t bigEndian16(ByteView d, std::size_t at) {
  return (std::uint32_t{d[at]} << 8) | d[at + 1];
}

std::uint32_t bigEndian32(ByteView d, std::size_t at) {
  return (bigEndian16(d, at) << 16) | bigEndian16(d, at + 2);
}

std::optional<ImageHeader> readPng(ByteView d) {
  // The signature, then the IHDR chunk, which must come first.
  constexpr std::array<std::uint8_t, 16> start{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                               0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  if (d.size() < 24 || !std::equal(start.begin(), start.end(), d.begin())) return std::nullopt;
  return ImageHeader{ImageHeader::Format::png, bigEndian32(d, 16), bigEndian32(d, 20)};
}

bool isStartOfFrame(std::uint8_t marker) {
  // SOF0 to SOF15, except DHT (C4), JPG (C8) and DAC (CC), which share the range.
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<ImageHeader> readJpeg(ByteView d) {
  if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8) return std::nullopt;
  std::size_t at = 2;
  while (at + 2 <= d.size()) {
    if (d[at] != 0xFF) return std::nullopt;
    const std::uint8_t marker = d[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    at += 2;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
    // The image data or its end before any frame header: not an image.
    if (marker == 0xD9 || marker == 0xDA || at + 2 > d.size()) return std::nullopt;
    const std::size_t length = bigEndian16(d, at);
    if (length < 2) return std::nullopt;
    if (isStartOfFrame(marker)) {
      // Length, sample precision, height, width.
      if (length < 7 || at + 7 > d.size()) return std::nullopt;
      return ImageHeader{ImageHeader::Format::jpeg, bigEndian16(d, at + 5), bigEndian16(d, at + 3)};
    }
    at += length;
  }
  return std::nullopt;
}

}  // namespace

std::optional<ImageHeader> ImageHeader::read(ByteView data) {
  if (auto png = readPng(data)) return png;
  return readJpeg(data);
}

}  // namespace glidemate::host
