#include "host/services/now_playing/curl/curl_artwork_fetcher.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>

namespace glidemate::host {
namespace {

// One https transfer. It runs on its job's thread; the executor may only
// wake it (interrupt), which is why the multi handle is shared under a lock.
class Transfer {
 public:
  Transfer(std::string url, const CurlArtworkFetcher::Options& options) : url_(std::move(url)), options_(options) {}

  std::optional<Bytes> run(BackgroundJobs::StopFlag stop) {
    // Declared so that the transfer is cleaned up before its multi handle.
    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(), &curl_multi_cleanup);
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy || !multi || !configure(easy.get())) return std::nullopt;
    if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) return std::nullopt;
    {
      std::lock_guard lock(mutex_);
      multi_ = multi.get();
    }
    CURLcode outcome = CURLE_ABORTED_BY_CALLBACK;
    while (!stop) {
      int running = 0;
      if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
      if (running == 0) {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
          if (message->msg == CURLMSG_DONE) outcome = message->data.result;
        }
        break;
      }
      // Wakes for the sockets, curl's own time-outs, or interrupt().
      if (curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) break;
    }
    {
      std::lock_guard lock(mutex_);
      multi_ = nullptr;
    }
    curl_multi_remove_handle(multi.get(), easy.get());

    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (stop || outcome != CURLE_OK || status < 200 || status > 299 || tooLarge_) return std::nullopt;
    return std::move(body_);
  }

  // From the executor: the job has been asked to stop.
  void interrupt() {
    std::lock_guard lock(mutex_);
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
  }

 private:
  static std::size_t write(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    if (transfer.body_.size() + length > transfer.options_.maxBytes) {
      transfer.tooLarge_ = true;
      return 0;  // ends the transfer with a write error
    }
    transfer.body_.insert(transfer.body_.end(), data, data + length);
    return length;
  }

  bool configure(CURL* easy) {
    const auto timeout = static_cast<long>(options_.timeout.count());
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, url_.c_str()) == CURLE_OK &&
              // Only https, after every redirect too: an unencrypted hop
              // would let anyone on the way choose the picture.
              curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeout) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                               static_cast<curl_off_t>(options_.maxBytes)) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_USERAGENT, "Glidemate") == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::write) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK;
    if (ok && !options_.trustedCertificates.empty()) {
      ok = curl_easy_setopt(easy, CURLOPT_CAINFO, options_.trustedCertificates.c_str()) == CURLE_OK;
    }
    return ok;
  }

  std::string url_;
  CurlArtworkFetcher::Options options_;
  Bytes body_;
  bool tooLarge_ = false;
  std::mutex mutex_;
  CURLM* multi_ = nullptr;
};

// Only a regular file: a pipe or a device could block or never end.
std::optional<Bytes> readRegularFile(const std::string& path, std::size_t maxBytes, BackgroundJobs::StopFlag stop) {
  struct Descriptor {
    int fd;
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
  } const file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  const int fd = file.fd;
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > maxBytes) {
    return std::nullopt;
  }
  Bytes data;
  std::uint8_t buffer[65536];
  while (!stop) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return data;
    // The file may have grown since it was measured.
    if (data.size() + static_cast<std::size_t>(got) > maxBytes) return std::nullopt;
    data.insert(data.end(), buffer, buffer + got);
  }
  return std::nullopt;
}

}  // namespace

CurlArtworkFetcher::CurlArtworkFetcher(asio::any_io_executor executor, Options options)
    : options_(std::move(options)), jobs_(std::move(executor)) {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)initialised;
}

asio::awaitable<std::optional<Bytes>> CurlArtworkFetcher::fetch(ArtworkUrl url) {
  using Work = std::function<std::optional<Bytes>(BackgroundJobs::StopFlag)>;
  if (const auto* file = std::get_if<ArtworkUrl::File>(&url.value)) {
    Work read = [path = file->path, maxBytes = options_.maxBytes](BackgroundJobs::StopFlag stop) {
      return readRegularFile(path, maxBytes, stop);
    };
    co_return co_await jobs_.run(std::move(read));
  }
  auto transfer = std::make_shared<Transfer>(std::get<ArtworkUrl::Https>(url.value).url, options_);
  Work download = [transfer](BackgroundJobs::StopFlag stop) { return transfer->run(stop); };
  std::function<void()> interrupt = [transfer] { transfer->interrupt(); };
  co_return co_await jobs_.run(std::move(download), std::move(interrupt));
}

}  // namespace glidemate::host
