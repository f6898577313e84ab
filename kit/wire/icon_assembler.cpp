#include "kit/wire/icon_assembler.hpp"

#include <algorithm>
#include <stdexcept>

namespace glidemate {

IconAssembler::Outcome IconAssembler::accept(const std::string& bundleId, std::uint32_t totalBytes,
                                             std::uint32_t offset, ByteView chunk) {
  if (totalBytes == 0 || totalBytes > maximumIconBytes) {
    forget(bundleId);
    return Discarded{};
  }
  auto it = partials_.find(bundleId);
  if (offset == 0) {
    if (it != partials_.end()) partials_.erase(it);
    it = partials_.emplace(bundleId, Partial{totalBytes, {}}).first;
  } else if (it == partials_.end() || it->second.total != totalBytes ||
             it->second.data.size() != offset) {
    forget(bundleId);
    return Discarded{};
  }
  Partial& partial = it->second;
  if (partial.data.size() + chunk.size() > totalBytes) {
    partials_.erase(it);
    return Discarded{};
  }
  if (partial.data.empty()) partial.data.reserve(totalBytes);
  partial.data.insert(partial.data.end(), chunk.begin(), chunk.end());
  if (partial.data.size() == totalBytes) {
    Bytes data = std::move(partial.data);
    partials_.erase(it);
    return Complete{std::move(data)};
  }
  return Incomplete{};
}

void IconAssembler::forget(const std::string& bundleId) { partials_.erase(bundleId); }

std::vector<IconAssembler::Chunk> IconAssembler::chunks(ByteView data, std::size_t size) {
  if (size == 0) throw std::invalid_argument("IconAssembler::chunks: size must be at least 1");
  std::vector<Chunk> out;
  out.reserve((data.size() + size - 1) / size);
  for (std::size_t offset = 0; offset < data.size(); offset += size) {
    const auto slice = data.subspan(offset, std::min(size, data.size() - offset));
    out.push_back(Chunk{static_cast<std::uint32_t>(offset), Bytes(slice.begin(), slice.end())});
  }
  return out;
}

}  // namespace glidemate
