#pragma once

namespace glidemate {

// The two channels a transport may offer: an ordered, lossless one and an
// optional datagram one where loss and reordering are acceptable.
enum class Channel { reliable, unreliable };

}  // namespace glidemate
