#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/message.hpp"

namespace glidemate::phone {

// Joins the icon chunks a host sends (app icons, artwork under "$artwork",
// preview frames under "$screen") and writes each whole image to a folder,
// one file per bundle id, replaced by the next image under the same id.
class ChunkSaver {
 public:
  explicit ChunkSaver(std::filesystem::path folder);

  // The file written when `chunk` completed an image; nothing otherwise.
  // Throws std::runtime_error when the file cannot be written.
  std::optional<std::filesystem::path> accept(const Message::AppIconChunk& chunk);

  // The bundle id as a name inside the folder: never a path elsewhere.
  static std::string fileNameFor(const std::string& bundleId);

 private:
  std::filesystem::path folder_;
  IconAssembler assembler_;
};

}  // namespace glidemate::phone
