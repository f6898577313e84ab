#include "host/services/screen_preview/pipewire/pipewire_screen_capture.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "host/pipewire/pipewire_screen_stream.hpp"
#include "host/services/screen_preview/pipewire/stream_picture.hpp"
#include "host/services/screen_preview/screen_capture_error.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "preview";

}  // namespace

// What the main executor, PipeWire's thread and the capture thread share,
// under `lock`. Each start of the capture is an attempt; whatever arrives
// for an older one is dropped.
struct PipeWireScreenCapture::Shared {
  std::mutex lock;
  std::condition_variable signal;
  std::uint64_t attempt = 0;
  bool woken = false;
  bool changed = false;
  bool lost = false;
  // The stream the source handed over, until the capture thread connects.
  std::optional<ScreenCastSource::Stream> pending;
  std::optional<std::string> failure;
  StreamPicture picture;
  // Where PipeWire's thread copies the next frame; only that thread
  // touches it, outside the lock, except when the picture takes it.
  std::vector<std::uint8_t> spare;

  void notify(std::uint64_t forAttempt, auto change) {
    {
      std::lock_guard guard(lock);
      if (forAttempt != attempt) return;
      change();
    }
    signal.notify_all();
  }
};

// The stream's source, main executor only.
struct PipeWireScreenCapture::MainSide {
  std::shared_ptr<ScreenCastSource> source;
  std::uint64_t wanted = 0;
  std::unique_ptr<ScreenCastSource::Hold> hold;

  static asio::awaitable<void> open(std::shared_ptr<MainSide> self, std::shared_ptr<Shared> shared,
                                    std::uint64_t attempt) {
    self->hold.reset();
    self->wanted = attempt;
    std::weak_ptr<Shared> weak = shared;
    std::function<void()> ended = [weak, attempt] {
      if (auto s = weak.lock()) s->notify(attempt, [&] { s->lost = true; });
    };
    std::optional<ScreenCastSource::Stream> stream;
    std::string failure;
    try {
      stream = co_await self->source->open(ended);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    // Stopped meanwhile: the stream goes (and its hold with it) here.
    if (self->wanted != attempt) co_return;
    if (stream) self->hold = std::move(stream->hold);
    shared->notify(attempt, [&] {
      if (stream) {
        shared->pending = std::move(stream);
      } else {
        shared->failure = failure;
      }
    });
  }

  void close(std::uint64_t attempt) {
    if (wanted != attempt) return;
    wanted = 0;
    hold.reset();
  }
};

PipeWireScreenCapture::PipeWireScreenCapture(const asio::any_io_executor& executor,
                                             std::shared_ptr<ScreenCastSource> source, Options options)
    : executor_(executor),
      options_(options),
      description_(source->description()),
      shared_(std::make_shared<Shared>()),
      main_(std::make_shared<MainSide>(MainSide{std::move(source), 0, nullptr})) {}

PipeWireScreenCapture::~PipeWireScreenCapture() {
  stream_.reset();
  {
    std::lock_guard guard(shared_->lock);
    ++shared_->attempt;
  }
  // The capture thread has ended, and this runs where the main executor
  // does: the stream's hold can go at once.
  main_->wanted = 0;
  main_->hold.reset();
}

void PipeWireScreenCapture::start(Logger& log) {
  stop();
  std::uint64_t attempt = 0;
  {
    std::lock_guard guard(shared_->lock);
    attempt = ++shared_->attempt;
    shared_->pending.reset();
    shared_->failure.reset();
    shared_->lost = false;
    shared_->changed = false;
    shared_->picture = StreamPicture{};
  }
  asio::post(executor_, [executor = executor_, main = main_, shared = shared_, attempt] {
    asio::co_spawn(executor, MainSide::open(main, shared, attempt), asio::detached);
  });

  std::optional<ScreenCastSource::Stream> stream;
  {
    std::unique_lock guard(shared_->lock);
    shared_->signal.wait(guard, [&] {
      return shared_->pending || shared_->failure || shared_->lost || shared_->woken;
    });
    if (shared_->failure) {
      const std::string failure = *shared_->failure;
      guard.unlock();
      stop();
      throw ScreenCaptureError::refused(failure);
    }
    stream.swap(shared_->pending);
  }
  if (stream) connect(std::move(*stream));
  log.log(category, "Screen preview: capturing " + description_);
}

void PipeWireScreenCapture::stop() {
  stream_.reset();
  std::uint64_t attempt = 0;
  {
    std::lock_guard guard(shared_->lock);
    attempt = shared_->attempt++;
  }
  asio::post(executor_, [main = main_, attempt] { main->close(attempt); });
}

void PipeWireScreenCapture::connect(ScreenCastSource::Stream stream) {
  std::uint64_t attempt = 0;
  {
    std::lock_guard guard(shared_->lock);
    attempt = shared_->attempt;
  }
  std::weak_ptr<Shared> weak = shared_;
  PipeWireScreenStream::Callbacks callbacks;
  callbacks.frame = [weak, attempt](const PipeWireScreenStream::Frame& frame) {
    auto s = weak.lock();
    if (!s) return;
    const auto rowBytes = static_cast<std::size_t>(frame.width) * 4;
    s->spare.resize(rowBytes * static_cast<std::size_t>(frame.height));
    for (int y = 0; y < frame.height; ++y) {
      std::memcpy(s->spare.data() + rowBytes * static_cast<std::size_t>(y),
                  frame.pixels + static_cast<std::size_t>(frame.stride) * static_cast<std::size_t>(y), rowBytes);
    }
    s->notify(attempt, [&] {
      s->picture.takeFrame(s->spare, {frame.width, frame.height}, static_cast<int>(rowBytes));
      s->changed = true;
    });
  };
  callbacks.cursor = [weak, attempt](const PipeWireScreenStream::Cursor& cursor) {
    if (auto s = weak.lock()) {
      s->notify(attempt, [&] { s->changed = s->picture.takeCursor(cursor) || s->changed; });
    }
  };
  callbacks.ended = [weak, attempt](const std::string&) {
    if (auto s = weak.lock()) s->notify(attempt, [&] { s->lost = true; });
  };
  try {
    stream_ = std::make_unique<PipeWireScreenStream>(
        PipeWireScreenStream::Options{stream.node, stream.remote.release(), options_.framesPerSecond},
        std::move(callbacks));
  } catch (const std::runtime_error& e) {
    stop();
    throw ScreenCaptureError::refused(e.what());
  }
}

bool PipeWireScreenCapture::waitForChange(std::chrono::steady_clock::time_point until) {
  std::optional<ScreenCastSource::Stream> stream;
  {
    std::unique_lock guard(shared_->lock);
    for (;;) {
      if (shared_->lost) throw ScreenCaptureError::displayLost();
      if (shared_->failure) throw ScreenCaptureError::refused(*shared_->failure);
      if (shared_->pending) {
        // The stream that start() stopped waiting for is here.
        stream.swap(shared_->pending);
        break;
      }
      if (shared_->changed) {
        shared_->changed = false;
        return true;
      }
      if (shared_->woken) {
        shared_->woken = false;
        return false;
      }
      if (until == std::chrono::steady_clock::time_point::max()) {
        shared_->signal.wait(guard);
      } else if (shared_->signal.wait_until(guard, until) == std::cv_status::timeout) {
        return false;
      }
    }
  }
  connect(std::move(*stream));
  return true;
}

void PipeWireScreenCapture::wake() {
  {
    std::lock_guard guard(shared_->lock);
    shared_->woken = true;
  }
  shared_->signal.notify_all();
}

DisplayLocation PipeWireScreenCapture::locate() {
  std::lock_guard guard(shared_->lock);
  if (shared_->lost) throw ScreenCaptureError::displayLost();
  const PixelSize size = shared_->picture.size();
  std::optional<PixelPoint> pointer = shared_->picture.pointer();
  if (pointer && !PixelRect{0, 0, size.width, size.height}.contains(*pointer)) pointer.reset();
  return DisplayLocation{size, pointer};
}

std::optional<CapturedFrame> PipeWireScreenCapture::grab(PixelRect region) {
  std::lock_guard guard(shared_->lock);
  if (shared_->lost) throw ScreenCaptureError::displayLost();
  return shared_->picture.copy(region, held_, heldCursor_);
}

}  // namespace glidemate::host
