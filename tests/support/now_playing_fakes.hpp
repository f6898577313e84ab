// Test helper: stand-ins for the ports the script player backend needs
// besides the script runner.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/services/now_playing/artwork_fetcher.hpp"
#include "host/services/now_playing/script/running_applications.hpp"

namespace glidemate::testing {

class FakeRunningApplications final : public host::RunningApplications {
 public:
  std::vector<std::string> ids;
  std::vector<std::string> bundleIdentifiers() override { return ids; }
};

// Answers every fetch with `answer` and keeps the addresses asked for.
class FakeArtworkFetcher final : public host::ArtworkFetcher {
 public:
  std::vector<host::ArtworkUrl> asked;
  std::optional<Bytes> answer;
  asio::awaitable<std::optional<Bytes>> fetch(host::ArtworkUrl url) override {
    asked.push_back(std::move(url));
    co_return answer;
  }
};

}  // namespace glidemate::testing
