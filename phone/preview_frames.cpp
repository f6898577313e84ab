#include "phone/preview_frames.hpp"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "kit/wire/protocol.hpp"

namespace glidemate::phone {

PreviewFrames::PreviewFrames(std::filesystem::path folder, std::chrono::steady_clock::time_point requestedAt)
    : folder_(std::move(folder)), previous_(requestedAt) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error || !std::filesystem::is_directory(folder_)) {
    throw std::runtime_error("cannot make the folder " + folder_.string() +
                             (error ? ": " + error.message() : std::string()));
  }
}

std::optional<std::string> PreviewFrames::accept(const Message::AppIconChunk& chunk,
                                                 std::chrono::steady_clock::time_point at) {
  if (chunk.bundleId != ScreenPreview::frameId) return std::nullopt;
  auto outcome = assembler_.accept(chunk.bundleId, chunk.totalBytes, chunk.offset, chunk.chunk);
  auto* complete = std::get_if<IconAssembler::Complete>(&outcome);
  if (complete == nullptr) return std::nullopt;
  ++count_;
  char name[32];
  std::snprintf(name, sizeof name, "frame-%05d.jpg", count_);
  const auto path = folder_ / name;
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(complete->data.data()), static_cast<std::streamsize>(complete->data.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path.string());

  const auto size = jpegDimensions(complete->data);
  const double ms = std::chrono::duration<double, std::milli>(at - previous_).count();
  previous_ = at;
  char line[160];
  std::snprintf(line, sizeof line, "%s %s %zu bytes +%.1f ms", name,
                size ? (std::to_string(size->first) + "x" + std::to_string(size->second)).c_str() : "?x?",
                complete->data.size(), ms);
  return std::string(line);
}

std::optional<std::pair<int, int>> jpegDimensions(ByteView jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xff || jpeg[1] != 0xd8) return std::nullopt;
  std::size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (jpeg[at] != 0xff) return std::nullopt;
    const std::uint8_t marker = jpeg[at + 1];
    if (marker == 0xff) {  // fill byte
      ++at;
      continue;
    }
    const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    // Start of frame: every SOFn but DHT (C4), JPG (C8) and DAC (CC).
    const bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
    if (frame) {
      if (at + 9 > jpeg.size()) return std::nullopt;
      const int height = (jpeg[at + 5] << 8) | jpeg[at + 6];
      const int width = (jpeg[at + 7] << 8) | jpeg[at + 8];
      return std::pair{width, height};
    }
    if (marker == 0xda || length < 2) return std::nullopt;  // the image data: no frame header came
    at += 2 + length;
  }
  return std::nullopt;
}

}  // namespace glidemate::phone
