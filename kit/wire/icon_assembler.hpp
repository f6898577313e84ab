#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Joins the chunks of icons (and of preview frames and artwork, which travel
// the same way) back into whole images. Chunks of one image must arrive in
// order, without gaps or repeats; anything else discards the image.
class IconAssembler {
 public:
  static constexpr std::uint32_t maximumIconBytes = 0x200000;

  struct Complete {
    Bytes data;
    bool operator==(const Complete&) const = default;
  };
  struct Incomplete {
    bool operator==(const Incomplete&) const = default;
  };
  struct Discarded {
    bool operator==(const Discarded&) const = default;
  };
  using Outcome = std::variant<Complete, Incomplete, Discarded>;

  struct Chunk {
    std::uint32_t offset;
    Bytes bytes;
    bool operator==(const Chunk&) const = default;
  };

  Outcome accept(const std::string& bundleId, std::uint32_t totalBytes, std::uint32_t offset,
                 ByteView chunk);
  void forget(const std::string& bundleId);

  // Consecutive slices of at most `size` bytes (size >= 1) with their offsets.
  static std::vector<Chunk> chunks(ByteView data, std::size_t size);

 private:
  struct Partial {
    std::uint32_t total;
    Bytes data;
  };
  std::map<std::string, Partial, std::less<>> partials_;
};

}  // namespace glidemate
