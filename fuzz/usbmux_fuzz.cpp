// What the cable multiplexer daemon sends: packets of a 16-byte header and
// an XML property list, one after another as on the notice connection.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.hpp"
#include "kit/transport/usbmux/usbmux_error.hpp"
#include "kit/transport/usbmux/usbmux_header.hpp"
#include "kit/transport/usbmux/usbmux_message.hpp"

using namespace glidemate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteView rest(data, size);
  while (rest.size() >= 16) {
    USBMuxHeader header;
    try {
      header = USBMuxHeader::decode(rest);
    } catch (const USBMuxError&) {
      return 0;
    }
    fuzz::require(header.payloadLength() <= 1024 * 1024, "a header announces at most 1 MiB");
    rest = rest.subspan(16);
    const ByteView payload = rest.subspan(0, std::min(header.payloadLength(), rest.size()));
    rest = rest.subspan(payload.size());
    if (auto response = USBMuxMessage::parse(payload)) {
      if (const auto* attached = std::get_if<USBMuxResponse::Attached>(&response->value)) {
        (void)attached->device.isOverCable();
      }
    }
  }
  return 0;
}
