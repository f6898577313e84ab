#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <cstddef>
#include <string>

#include "host/services/now_playing/artwork_fetcher.hpp"
#include "kit/runtime/background_jobs.hpp"

namespace glidemate::host {

// Fetches artwork with libcurl (https only, redirects included) and from
// local regular files, each fetch on a thread of its own. Destroying the
// fetcher stops and joins the fetches under way.
class CurlArtworkFetcher final : public ArtworkFetcher {
 public:
  struct Options {
    // For the whole transfer, redirects included.
    std::chrono::milliseconds timeout = std::chrono::seconds(10);
    // Artwork larger than this is refused, announced or not.
    std::size_t maxBytes = 16 * 1024 * 1024;
    // A file of certificates to trust instead of the system's; for tests,
    // which serve https from a certificate of their own.
    std::string trustedCertificates;
  };

  CurlArtworkFetcher(asio::any_io_executor executor, Options options);

  asio::awaitable<std::optional<Bytes>> fetch(ArtworkUrl url) override;

 private:
  Options options_;
  BackgroundJobs jobs_;
};

}  // namespace glidemate::host
