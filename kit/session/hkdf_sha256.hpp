#pragma once

#include <cstdint>
#include <span>

#include "kit/wire/bytes.hpp"

namespace glidemate {

namespace HkdfSha256 {

// HKDF-SHA256 (extract then expand) filling `out` with output key material.
// Throws CryptoLibraryError, for example when `out` exceeds 255 * 32 bytes.
void derive(ByteView inputKeyMaterial, ByteView salt, ByteView info, std::span<std::uint8_t> out);

}  // namespace HkdfSha256
}  // namespace glidemate
