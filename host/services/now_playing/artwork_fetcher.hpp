#pragma once

#include <asio/awaitable.hpp>
#include <optional>

#include "host/services/now_playing/artwork_url.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate::host {

// Fetches artwork bytes from where a player says they are, without holding
// up the main executor.
class ArtworkFetcher {
 public:
  virtual ~ArtworkFetcher() = default;

  // The bytes at `url`; nothing when they cannot be had (unreachable, an
  // error status, too large, not a regular readable file, too slow). Throws
  // only operation_aborted, when the caller is cancelled.
  virtual asio::awaitable<std::optional<Bytes>> fetch(ArtworkUrl url) = 0;
};

}  // namespace glidemate::host
