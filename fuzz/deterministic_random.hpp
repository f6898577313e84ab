// Makes the process's random source (OpenSSL's, behind every key pair,
// nonce and code) repeatable, so that an input replays the same way every
// time and a handshake recorded against a host replays against it. Each
// thread draws its own stream, from the seed it last set.
#pragma once

#include <cstdint>

namespace glidemate::fuzz::DeterministicRandom {

// Replaces OpenSSL's random source for the rest of the process.
void install();
// Restarts this thread's stream.
void reset(std::uint64_t seed);

}  // namespace glidemate::fuzz::DeterministicRandom
