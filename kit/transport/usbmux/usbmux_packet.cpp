#include "kit/transport/usbmux/usbmux_packet.hpp"

#include "kit/transport/usbmux/usbmux_error.hpp"
#include "kit/wire/byte_writer.hpp"

namespace glidemate {

Bytes USBMuxPacket::encoded() const {
  if (payload.size() > maximumPayload) {
    throw USBMuxError::payloadTooLarge(static_cast<std::int64_t>(payload.size()));
  }
  ByteWriter writer(headerSize + payload.size());
  writer.write(static_cast<std::uint32_t>(headerSize + payload.size()));
  writer.write(plistVersion);
  writer.write(plistMessage);
  writer.write(tag);
  writer.write(ByteView(payload));
  return std::move(writer).data();
}

}  // namespace glidemate
