#include "host/services/now_playing/artwork_url.hpp"

#include <gtest/gtest.h>

namespace glidemate::host {
namespace {

TEST(ArtworkUrl, TakesHttpsAddressesAndLocalFilesOnly) {
  using Https = ArtworkUrl::Https;
  using File = ArtworkUrl::File;
  const std::pair<std::string, std::optional<ArtworkUrl>> cases[] = {
      {"https://i.scdn.co/image/ab67", ArtworkUrl{Https{"https://i.scdn.co/image/ab67"}}},
      {"https://127.0.0.1:8443/cover.png?size=640", ArtworkUrl{Https{"https://127.0.0.1:8443/cover.png?size=640"}}},
      {"file:///home/me/.cache/art/cover%20one.png", ArtworkUrl{File{"/home/me/.cache/art/cover one.png"}}},
      {"file://localhost/tmp/a.jpg", ArtworkUrl{File{"/tmp/a.jpg"}}},
      {"file:///tmp/a%23b.jpg#fragment", ArtworkUrl{File{"/tmp/a#b.jpg"}}},
      {"http://i.scdn.co/image/ab67", std::nullopt},
      {"HTTPS://i.scdn.co/image/ab67", std::nullopt},
      {"https://", std::nullopt},
      {"https:///path", std::nullopt},
      {"https://host/with space", std::nullopt},
      {"https://host/\nHost: other", std::nullopt},
      {"file://otherhost/tmp/a.jpg", std::nullopt},
      {"file://tmp/a.jpg", std::nullopt},
      {"file:///tmp/a%00.jpg", std::nullopt},
      {"file:///tmp/a%2", std::nullopt},
      {"FILE:///tmp/a.jpg", std::nullopt},
      {"data:image/png;base64,iVBORw0KGgo=", std::nullopt},
      {"/tmp/a.jpg", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ArtworkUrl::parse(text), expected) << text;
  }
}

}  // namespace
}  // namespace glidemate::host
