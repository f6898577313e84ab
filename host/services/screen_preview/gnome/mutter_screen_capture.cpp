#include "host/services/screen_preview/gnome/mutter_screen_capture.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "host/gnome/mutter_screen_cast.hpp"
#include "host/pipewire/pipewire_screen_stream.hpp"
#include "host/services/screen_preview/gnome/stream_picture.hpp"
#include "host/services/screen_preview/screen_capture_error.hpp"
#include "kit/dbus/dbus_connection.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "preview";

}  // namespace

// What the main executor, PipeWire's thread and the capture thread share,
// under `lock`. Each start of the capture is an attempt; whatever arrives
// for an older one is dropped.
struct MutterScreenCapture::Shared {
  std::mutex lock;
  std::condition_variable signal;
  std::uint64_t attempt = 0;
  bool woken = false;
  bool changed = false;
  bool lost = false;
  std::optional<std::uint32_t> node;
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

// The cast itself, main executor only.
struct MutterScreenCapture::MainSide {
  std::shared_ptr<DBusConnection> connection;
  std::chrono::milliseconds callTimeout;
  std::uint64_t wanted = 0;
  std::unique_ptr<MutterScreenCast> cast;

  static asio::awaitable<void> open(asio::any_io_executor executor, std::shared_ptr<MainSide> self,
                                    std::shared_ptr<Shared> shared, std::uint64_t attempt) {
    self->cast.reset();
    self->wanted = attempt;
    auto cast = std::make_unique<MutterScreenCast>(executor, self->connection,
                                                   MutterScreenCast::Options{self->callTimeout});
    std::optional<std::uint32_t> node;
    std::string failure;
    try {
      node = co_await cast->start();
    } catch (const DBusError& e) {
      failure = e.message();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    // Stopped meanwhile: the cast goes (and stops) here.
    if (self->wanted != attempt) co_return;
    if (node) {
      std::weak_ptr<Shared> weak = shared;
      cast->onEnded([weak, attempt] {
        if (auto s = weak.lock()) s->notify(attempt, [&] { s->lost = true; });
      });
      self->cast = std::move(cast);
    }
    shared->notify(attempt, [&] {
      if (node) {
        shared->node = node;
      } else {
        shared->failure = failure;
      }
    });
  }

  void close(std::uint64_t attempt) {
    if (wanted != attempt) return;
    wanted = 0;
    cast.reset();
  }
};

MutterScreenCapture::MutterScreenCapture(const asio::any_io_executor& executor,
                                         std::shared_ptr<DBusConnection> sessionBus, Options options)
    : executor_(executor),
      options_(options),
      shared_(std::make_shared<Shared>()),
      main_(std::make_shared<MainSide>(MainSide{std::move(sessionBus), options.callTimeout, 0, nullptr})) {}

MutterScreenCapture::~MutterScreenCapture() {
  stream_.reset();
  {
    std::lock_guard guard(shared_->lock);
    ++shared_->attempt;
  }
  // The capture thread has ended, and this runs where the main executor
  // does: the cast can go at once.
  main_->wanted = 0;
  main_->cast.reset();
}

void MutterScreenCapture::start(Logger& log) {
  stop();
  std::uint64_t attempt = 0;
  {
    std::lock_guard guard(shared_->lock);
    attempt = ++shared_->attempt;
    shared_->node.reset();
    shared_->failure.reset();
    shared_->lost = false;
    shared_->changed = false;
    shared_->picture = StreamPicture{};
  }
  asio::post(executor_, [executor = executor_, main = main_, shared = shared_, attempt] {
    asio::co_spawn(executor, MainSide::open(executor, main, shared, attempt), asio::detached);
  });

  std::optional<std::uint32_t> node;
  {
    std::unique_lock guard(shared_->lock);
    shared_->signal.wait(guard, [&] {
      return shared_->node || shared_->failure || shared_->lost || shared_->woken;
    });
    if (shared_->failure) {
      const std::string failure = *shared_->failure;
      guard.unlock();
      stop();
      throw ScreenCaptureError::refused(failure);
    }
    node = shared_->node;
  }
  if (node) connect(*node);
  log.log(category, "Screen preview: capturing GNOME's primary monitor through a screen cast of mutter");
}

void MutterScreenCapture::stop() {
  stream_.reset();
  std::uint64_t attempt = 0;
  {
    std::lock_guard guard(shared_->lock);
    attempt = shared_->attempt++;
  }
  asio::post(executor_, [main = main_, attempt] { main->close(attempt); });
}

void MutterScreenCapture::connect(std::uint32_t node) {
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
        PipeWireScreenStream::Options{node, -1, options_.framesPerSecond}, std::move(callbacks));
  } catch (const std::runtime_error& e) {
    stop();
    throw ScreenCaptureError::refused(e.what());
  }
}

bool MutterScreenCapture::waitForChange(std::chrono::steady_clock::time_point until) {
  std::uint32_t node = 0;
  {
    std::unique_lock guard(shared_->lock);
    for (;;) {
      if (shared_->lost) throw ScreenCaptureError::displayLost();
      if (shared_->failure) throw ScreenCaptureError::refused(*shared_->failure);
      if (shared_->node && !stream_) {
        // The cast that start() stopped waiting for is here.
        node = *shared_->node;
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
  connect(node);
  return true;
}

void MutterScreenCapture::wake() {
  {
    std::lock_guard guard(shared_->lock);
    shared_->woken = true;
  }
  shared_->signal.notify_all();
}

DisplayLocation MutterScreenCapture::locate() {
  std::lock_guard guard(shared_->lock);
  if (shared_->lost) throw ScreenCaptureError::displayLost();
  const PixelSize size = shared_->picture.size();
  std::optional<PixelPoint> pointer = shared_->picture.pointer();
  if (pointer && !PixelRect{0, 0, size.width, size.height}.contains(*pointer)) pointer.reset();
  return DisplayLocation{size, pointer};
}

std::optional<CapturedFrame> MutterScreenCapture::grab(PixelRect region) {
  std::lock_guard guard(shared_->lock);
  if (shared_->lost) throw ScreenCaptureError::displayLost();
  return shared_->picture.copy(region, held_, heldCursor_);
}

}  // namespace glidemate::host
