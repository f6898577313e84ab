#include "kit/transport/usbmux/usbmux_header.hpp"

#include "kit/transport/usbmux/usbmux_error.hpp"
#include "kit/transport/usbmux/usbmux_packet.hpp"
#include "kit/wire/byte_reader.hpp"

namespace glidemate {

std::size_t USBMuxHeader::payloadLength() const {
  return static_cast<std::size_t>(length) - USBMuxPacket::headerSize;
}

USBMuxHeader USBMuxHeader::decode(ByteView data) {
  if (data.size() < USBMuxPacket::headerSize) {
    throw USBMuxError::malformedPacket();
  }
  ByteReader reader(data);
  USBMuxHeader header;
  header.length = reader.readU32();
  header.version = reader.readU32();
  header.message = reader.readU32();
  header.tag = reader.readU32();
  if (header.version != USBMuxPacket::plistVersion) {
    throw USBMuxError::unsupportedVersion(header.version);
  }
  constexpr auto headerSize = static_cast<std::int64_t>(USBMuxPacket::headerSize);
  if (header.length < headerSize) {
    throw USBMuxError::malformedPacket();
  }
  if (header.length > headerSize + static_cast<std::int64_t>(USBMuxPacket::maximumPayload)) {
    throw USBMuxError::payloadTooLarge(header.length - headerSize);
  }
  return header;
}

}  // namespace glidemate
