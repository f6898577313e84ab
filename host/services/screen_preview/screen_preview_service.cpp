#include "host/services/screen_preview/screen_preview_service.hpp"

#include <asio/post.hpp>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "host/services/screen_preview/capture_schedule.hpp"
#include "host/services/screen_preview/preview_frame_encoder.hpp"
#include "host/services/screen_preview/preview_layout.hpp"
#include "host/services/screen_preview/screen_capture_error.hpp"
#include "kit/runtime/notifier.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "preview";

// What the main executor and the capture thread share, under `lock`.
struct Shared {
  std::mutex lock;
  ScreenPreviewService::FrameHandler onFrame;
  ScreenPreviewMode mode = ScreenPreviewMode::screen;
  bool frameRequested = false;
  bool stopRequested = false;
};

// One start of the capture, awaited by everyone who asked for it.
struct Attempt {
  bool done = false;
  std::exception_ptr failure;
};

}  // namespace

struct ScreenPreviewService::Core : std::enable_shared_from_this<Core> {
  enum class Phase { idle, starting, running, stopping };

  Core(const asio::any_io_executor& e, std::unique_ptr<ScreenCapture> c, Logger& l)
      : executor(e), capture(std::move(c)), logger(l), changed(e) {}

  // Main executor only, except where said.
  asio::any_io_executor executor;
  std::unique_ptr<ScreenCapture> capture;
  Logger& logger;
  Notifier changed;
  Phase phase = Phase::idle;
  std::shared_ptr<Attempt> attempt;
  std::thread thread;
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();

  // Lines from the capture thread, written on the main executor.
  class ThreadLog final : public Logger {
   public:
    explicit ThreadLog(std::weak_ptr<Core> core) : core_(std::move(core)) {}
    void log(std::string_view c, std::string_view message) override {
      auto core = core_.lock();
      if (!core) return;
      asio::post(core->executor, [weak = core_, c = std::string(c), m = std::string(message)] {
        if (auto alive = weak.lock()) alive->logger.log(c, m);
      });
    }

   private:
    std::weak_ptr<Core> core_;
  };

  void launch() {
    phase = Phase::starting;
    attempt = std::make_shared<Attempt>();
    {
      std::lock_guard guard(shared->lock);
      shared->stopRequested = false;
      shared->frameRequested = false;
    }
    thread = std::thread([weak = weak_from_this(), shared = shared, capture = capture.get()] {
      ThreadLog log(weak);
      run(weak, *shared, *capture, log);
    });
  }

  void requestStop() {
    {
      std::lock_guard guard(shared->lock);
      shared->stopRequested = true;
      shared->onFrame = nullptr;
    }
    capture->wake();
  }

  // The capture thread's reports, posted to the main executor.
  void report(const std::weak_ptr<Core>& weak, Phase next, std::exception_ptr failure = nullptr) {
    asio::post(executor, [weak, next, failure] {
      auto self = weak.lock();
      if (!self) return;
      if (next == Phase::idle && self->thread.joinable()) self->thread.join();
      // A stop asked for during the start wins over the start's success.
      if (!(next == Phase::running && self->phase == Phase::stopping)) self->phase = next;
      if (next == Phase::idle || next == Phase::running) {
        if (self->attempt && !self->attempt->done) {
          self->attempt->done = true;
          self->attempt->failure = failure;
        }
      }
      self->changed.notifyAll();
    });
  }

  // The capture thread: start the capture, then capture each changed frame,
  // paced, until asked to stop or the display goes away.
  static void run(const std::weak_ptr<Core>& weak, Shared& shared, ScreenCapture& capture, Logger& log) {
    auto core = weak.lock();
    if (!core) return;
    std::optional<PreviewFrameEncoder> encoder;
    try {
      encoder.emplace();
      capture.start(log);
    } catch (...) {
      capture.stop();
      core->report(weak, Phase::idle, std::current_exception());
      return;
    }
    core->report(weak, Phase::running);
    core.reset();

    CaptureSchedule schedule;
    schedule.changed();  // the first frame, whatever the screen does
    bool reportedEncodingFailure = false;
    try {
      for (;;) {
        FrameHandler handler;
        ScreenPreviewMode mode{};
        {
          std::lock_guard guard(shared.lock);
          if (shared.stopRequested) break;
          if (shared.frameRequested) schedule.changed();
          shared.frameRequested = false;
          handler = shared.onFrame;
          mode = shared.mode;
        }
        const auto now = CaptureSchedule::Clock::now();
        if (!handler || !schedule.isDue(now)) {
          if (capture.waitForChange(handler ? schedule.waitUntil() : CaptureSchedule::Clock::time_point::max())) {
            schedule.changed();
          }
          continue;
        }
        schedule.captured(now);
        const DisplayLocation where = capture.locate();
        const PixelRect region = mode == ScreenPreviewMode::cursor
                                     ? PreviewLayout::cursorCrop(where.size, where.pointer)
                                     : PixelRect{0, 0, where.size.width, where.size.height};
        const auto frame = capture.grab(region);
        if (!frame) {
          // The display changed under the request: try again at the next turn.
          schedule.changed();
          continue;
        }
        try {
          const ByteView jpeg = encoder->encode(*frame, mode);
          handler(Bytes(jpeg.begin(), jpeg.end()));
        } catch (const std::runtime_error& e) {
          if (!reportedEncodingFailure) log.log(category, std::string("Screen preview: a frame was dropped: ") + e.what());
          reportedEncodingFailure = true;
        }
      }
    } catch (const ScreenCaptureError& e) {
      log.log(category, std::string("Screen preview: capture ended: ") + e.what());
    }
    capture.stop();
    if (auto last = weak.lock()) last->report(weak, Phase::idle);
  }
};

ScreenPreviewService::ScreenPreviewService(const asio::any_io_executor& executor,
                                           std::unique_ptr<ScreenCapture> capture, Logger& logger)
    : core_(std::make_shared<Core>(executor, std::move(capture), logger)) {}

ScreenPreviewService::~ScreenPreviewService() {
  if (core_->thread.joinable()) {
    core_->requestStop();
    core_->thread.join();
  }
}

asio::awaitable<void> ScreenPreviewService::start() {
  auto core = core_;
  while (core->phase == Core::Phase::stopping) co_await core->changed.wait();
  if (core->phase == Core::Phase::running) {
    requestFrame();
    co_return;
  }
  if (core->phase == Core::Phase::idle) core->launch();
  const auto attempt = core->attempt;
  while (!attempt->done) co_await core->changed.wait();
  if (attempt->failure) std::rethrow_exception(attempt->failure);
}

asio::awaitable<void> ScreenPreviewService::stop() {
  auto core = core_;
  {
    std::lock_guard guard(core->shared->lock);
    core->shared->onFrame = nullptr;
  }
  if (core->phase == Core::Phase::idle) co_return;
  if (core->phase != Core::Phase::stopping) {
    core->phase = Core::Phase::stopping;
    core->requestStop();
  }
  while (core->phase != Core::Phase::idle) co_await core->changed.wait();
}

bool ScreenPreviewService::hasStream() const { return core_->phase == Core::Phase::running; }

bool ScreenPreviewService::isActive() const { return core_->phase != Core::Phase::idle; }

void ScreenPreviewService::setOnFrame(FrameHandler handler) {
  std::lock_guard guard(core_->shared->lock);
  core_->shared->onFrame = std::move(handler);
}

void ScreenPreviewService::setMode(ScreenPreviewMode mode) {
  {
    std::lock_guard guard(core_->shared->lock);
    if (core_->shared->mode == mode) return;
    core_->shared->mode = mode;
    core_->shared->frameRequested = true;
  }
  core_->capture->wake();
}

ScreenPreviewMode ScreenPreviewService::mode() const {
  std::lock_guard guard(core_->shared->lock);
  return core_->shared->mode;
}

void ScreenPreviewService::requestFrame() {
  {
    std::lock_guard guard(core_->shared->lock);
    core_->shared->frameRequested = true;
  }
  core_->capture->wake();
}

}  // namespace glidemate::host
