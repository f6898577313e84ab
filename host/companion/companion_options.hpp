#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// The command line of glidemate-companion.
struct CompanionOptions {
  std::string name;  // empty: the machine's name
  std::uint16_t port = 0;
  bool advertise = true;
  std::optional<std::filesystem::path> dataDir;
  bool help = false;
  bool version = false;

  // Throws std::invalid_argument with a message for the user.
  static CompanionOptions parse(const std::vector<std::string>& args);
  static const char* usage();
};

}  // namespace glidemate::host
