// Fetching artwork for real: https from a web server on loopback with a
// certificate made for the test, and files on disk.
#include "host/services/now_playing/curl/curl_artwork_fetcher.hpp"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "kit/runtime/task.hpp"
#include "tests/support/loopback_web_server.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/test_images.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runAwaitable;

constexpr std::uintmax_t fiftyMegabytes = 50 * 1024 * 1024;

class CurlArtworkFetcherTest : public ::testing::Test {
 protected:
  CurlArtworkFetcherTest() {
    web.put("cover.png", cover);
    // Sparse: it claims 50 MB without taking them.
    std::ofstream(web.files() / "huge.png").close();
    std::filesystem::resize_file(web.files() / "huge.png", fiftyMegabytes);
  }

  CurlArtworkFetcher::Options trusting(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
    return {.timeout = timeout, .trustedCertificates = web.certificate()};
  }

  std::optional<Bytes> fetch(CurlArtworkFetcher& from, std::string url) {
    return runAwaitable(context, from.fetch(ArtworkUrl{ArtworkUrl::Https{std::move(url)}}));
  }
  std::optional<Bytes> fetchFile(const std::string& path) {
    return runAwaitable(context, fetcher.fetch(ArtworkUrl{ArtworkUrl::File{path}}));
  }

  asio::io_context context;
  glidemate::testing::LoopbackWebServer web;
  const Bytes cover = glidemate::testing::makeImage("png", 640, 640);
  CurlArtworkFetcher fetcher{context.get_executor(), trusting()};
};

TEST_F(CurlArtworkFetcherTest, DownloadsOverHttpsAndFollowsHttpsRedirects) {
  EXPECT_EQ(fetch(fetcher, web.httpsUrl("/cover.png")), cover);
  EXPECT_EQ(fetch(fetcher, web.httpsUrl("/redirect?to=" + web.httpsUrl("/cover.png"))), cover);
}

TEST_F(CurlArtworkFetcherTest, RefusesAnythingButAWholeHttpsAnswerOfReasonableSize) {
  const std::pair<const char*, std::string> cases[] = {
      {"plain http", web.httpUrl("/cover.png")},
      {"a redirect to plain http", web.httpsUrl("/redirect?to=" + web.httpUrl("/cover.png"))},
      {"not found", web.httpsUrl("/missing.png")},
      {"50 MB announced", web.httpsUrl("/huge.png")},
      {"no end and no length", web.httpsUrl("/endless")},
  };
  for (const auto& [name, url] : cases) {
    EXPECT_FALSE(fetch(fetcher, url)) << name;
  }
  CurlArtworkFetcher systemTrust(context.get_executor(), {});
  EXPECT_FALSE(fetch(systemTrust, web.httpsUrl("/cover.png"))) << "a certificate nobody vouches for";
}

TEST_F(CurlArtworkFetcherTest, AServerThatNeverAnswersRunsIntoTheTimeOut) {
  CurlArtworkFetcher impatient(context.get_executor(), trusting(std::chrono::milliseconds(200)));
  EXPECT_FALSE(fetch(impatient, web.httpsUrl("/silent")));
}

// With a time-out far beyond the test's own, only the interruption can end
// these fetches.
TEST_F(CurlArtworkFetcherTest, ACancelledOrAbandonedFetchStopsAtOnce) {
  auto patient = std::make_unique<CurlArtworkFetcher>(context.get_executor(), trusting(std::chrono::hours(1)));
  // Arguments are named (g++ 12 destroys temporaries of a co_await twice),
  // and state comes in as parameters, which the frame keeps.
  const ArtworkUrl silent{ArtworkUrl::Https{web.httpsUrl("/silent")}};
  auto fetchSilence = [](CurlArtworkFetcher& f, const ArtworkUrl& url, bool& ended) -> asio::awaitable<void> {
    try {
      co_await f.fetch(url);
    } catch (const asio::system_error&) {
    }
    ended = true;
  };
  bool cancelledEnded = false;
  Task cancelled(context.get_executor(), fetchSilence(*patient, silent, cancelledEnded));
  context.poll();
  cancelled.cancel();
  glidemate::testing::driveUntil(context, [&] { return cancelledEnded; });

  bool abandonedEnded = false;
  Task abandoned(context.get_executor(), fetchSilence(*patient, silent, abandonedEnded));
  context.poll();
  patient.reset();  // joins both transfers
  glidemate::testing::driveUntil(context, [&] { return abandonedEnded; });
}

TEST_F(CurlArtworkFetcherTest, ReadsRegularFilesOnlyAndNotTooLarge) {
  EXPECT_EQ(fetchFile((web.files() / "cover.png").string()), cover);
  const auto fifo = web.files() / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo.string(), web.files().string(), std::string("/dev/zero"),
                                 (web.files() / "missing.png").string(), (web.files() / "huge.png").string()}) {
    EXPECT_FALSE(fetchFile(path)) << path;
  }
}

}  // namespace
}  // namespace glidemate::host
