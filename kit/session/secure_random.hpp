#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// The cryptographically secure random source (the library's DRBG). Every
// nonce, key, pairing code and session id is drawn here.
namespace SecureRandom {

// Throws CryptoLibraryError when the source cannot deliver.
void fill(std::span<std::uint8_t> out);
Bytes bytes(std::size_t count);
std::uint32_t next32();
std::uint64_t next64();
// A random (version 4) UUID in its upper-case text form, the shape of host
// and phone identifiers.
std::string uuid();

}  // namespace SecureRandom
}  // namespace glidemate
