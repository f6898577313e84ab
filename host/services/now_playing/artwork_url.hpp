#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace glidemate::host {

// Where a player says its artwork is, among the places the host is willing
// to fetch it from: an https address, or a file on this computer.
struct ArtworkUrl {
  struct Https {
    std::string url;
    bool operator==(const Https&) const = default;
  };
  struct File {
    std::string path;  // absolute, escapes decoded
    bool operator==(const File&) const = default;
  };
  using Case = std::variant<Https, File>;

  Case value;

  // "https://" (exactly so: an unencrypted address or an upper-case scheme
  // is refused) followed by a host, or "file://" followed by an absolute
  // path, with or without the host name "localhost". Nothing for anything
  // else, including text with spaces or control characters.
  static std::optional<ArtworkUrl> parse(std::string_view text);

  bool operator==(const ArtworkUrl&) const = default;
};

}  // namespace glidemate::host
