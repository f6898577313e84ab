#include "phone/chunk_saver.hpp"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace glidemate::phone {

ChunkSaver::ChunkSaver(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::string ChunkSaver::fileNameFor(const std::string& bundleId) {
  std::string name = bundleId;
  std::replace_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '\0'; }, '_');
  if (name.empty() || name == "." || name == "..") name = "_" + name;
  return name;
}

std::optional<std::filesystem::path> ChunkSaver::accept(const Message::AppIconChunk& chunk) {
  auto outcome = assembler_.accept(chunk.bundleId, chunk.totalBytes, chunk.offset, chunk.chunk);
  const auto* complete = std::get_if<IconAssembler::Complete>(&outcome);
  if (complete == nullptr) return std::nullopt;
  std::error_code ignored;
  std::filesystem::create_directories(folder_, ignored);
  const auto path = folder_ / fileNameFor(chunk.bundleId);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(complete->data.data()), static_cast<std::streamsize>(complete->data.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path.string());
  return path;
}

}  // namespace glidemate::phone
