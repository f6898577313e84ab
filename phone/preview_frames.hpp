#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "kit/wire/bytes.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/message.hpp"

namespace glidemate::phone {

// The frames of `glidemate preview`: the screen's JPEGs put back together
// from their chunks, each kept as a numbered file in a folder and told as
// one line.
class PreviewFrames {
 public:
  // Makes the folder if it is missing; throws std::runtime_error when it
  // can't be written to.
  PreviewFrames(std::filesystem::path folder, std::chrono::steady_clock::time_point requestedAt);

  // The line for a frame this chunk completes ("frame-00001.jpg 1280x800
  // 104523 bytes +41.7 ms": the name, the picture's size, its bytes and the
  // time since the previous frame or the request), after writing the file.
  // Nothing for a chunk of something else or of an unfinished frame.
  std::optional<std::string> accept(const Message::AppIconChunk& chunk, std::chrono::steady_clock::time_point at);

  int count() const { return count_; }

 private:
  std::filesystem::path folder_;
  std::chrono::steady_clock::time_point previous_;
  IconAssembler assembler_;
  int count_ = 0;
};

// The width and height a JPEG's frame header gives; nothing when the bytes
// hold no JPEG frame header.
std::optional<std::pair<int, int>> jpegDimensions(ByteView jpeg);

}  // namespace glidemate::phone
