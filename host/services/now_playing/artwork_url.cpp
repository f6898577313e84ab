#include "host/services/now_playing/artwork_url.hpp"

#include <algorithm>

namespace glidemate::host {
namespace {

bool isPlainText(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
  });
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace

std::optional<ArtworkUrl> ArtworkUrl::parse(std::string_view text) {
  if (!isPlainText(text)) return std::nullopt;
  constexpr std::string_view https = "https://";
  constexpr std::string_view file = "file://";
  if (text.starts_with(https)) {
    const auto host = text.substr(https.size());
    if (host.empty() || host.front() == '/' || host.front() == '?' || host.front() == '#') return std::nullopt;
    return ArtworkUrl{Https{std::string(text)}};
  }
  if (text.starts_with(file)) {
    auto rest = text.substr(file.size());
    if (rest.starts_with("localhost/")) rest.remove_prefix(std::string_view("localhost").size());
    if (!rest.starts_with('/')) return std::nullopt;
    rest = rest.substr(0, rest.find_first_of("?#"));
    auto path = percentDecoded(rest);
    if (!path) return std::nullopt;
    return ArtworkUrl{File{std::move(*path)}};
  }
  return std::nullopt;
}

}  // namespace glidemate::host
