#pragma once

#include <cstddef>
#include <string_view>

namespace glidemate {

// The GATT face of a host on Bluetooth LE: one primary service whose
// inbound characteristic the phone writes and whose outbound characteristic
// the host notifies. Both directions are one byte stream; fragments carry
// no header of their own.
namespace BLEProtocol {
inline constexpr std::string_view serviceIdentifier = "5C3E9A70-1D2B-4F68-8E41-7B0A2C6D9F35";
// The phone writes here.
inline constexpr std::string_view inboundIdentifier = "5C3E9A71-1D2B-4F68-8E41-7B0A2C6D9F35";
// The host notifies here.
inline constexpr std::string_view outboundIdentifier = "5C3E9A72-1D2B-4F68-8E41-7B0A2C6D9F35";
// The fragment size a send queue starts with, before the link says more.
inline constexpr std::size_t conservativeFragment = 20;
// Bytes waiting for the radio above which droppable data is refused.
inline constexpr std::size_t backlogLimit = 1024;
// The most characters of the host's name that are advertised.
inline constexpr std::size_t localNameLength = 16;
}  // namespace BLEProtocol

}  // namespace glidemate
