// The screen preview, in one run on one 1440 × 900 picture of a desktop
// shown by a private Xvfb:
// - per frame: the capture (shared memory, or through the connection; and
//   beside it GNOME's path, a screen cast of a headless mutter read through
//   PipeWire, as this process's CPU time per frame), the
//   scaler (libyuv beside pixman, which is how the scaler was chosen), the
//   whole capture, scale and encode of the host, and beside it a bare
//   tjCompress2 of the same picture already scaled to 1280 × 800;
// - frames per second that one and four phones receive over loopback from a
//   running host while the screen keeps changing, the host (main executor
//   and capture thread) held to one core, the phones, Xvfb and the client
//   changing the screen to the other.
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <benchmark/benchmark.h>
#include <libyuv/scale_argb.h>
#include <pixman.h>
#include <pthread.h>
#include <sched.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "host/server/host_server.hpp"
#include "host/services/screen_preview/preview_frame_encoder.hpp"
#include "host/services/screen_preview/preview_layout.hpp"
#include "host/services/screen_preview/gnome/mutter_screen_cast_source.hpp"
#include "host/services/screen_preview/pipewire/pipewire_screen_capture.hpp"
#include "host/services/screen_preview/x11/x11_screen_capture.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/session/secure_random.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "kit/transport/stream_transport.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "phone/phone_pairing.hpp"
#include "tests/support/wayland/headless_mutter.hpp"
#include "tests/support/x_painter.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

constexpr PixelSize screenSize{1440, 900};

// A desktop: a gradient, windows with title bars, and lines of small dark
// marks standing for text, the detail that costs a JPEG encoder most.
std::vector<std::uint32_t> desktopPicture() {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(screenSize.width) * screenSize.height);
  std::mt19937 random(7);
  for (int y = 0; y < screenSize.height; ++y) {
    for (int x = 0; x < screenSize.width; ++x) {
      pixels[static_cast<std::size_t>(y) * screenSize.width + x] =
          (static_cast<std::uint32_t>(40 + y / 8) << 16) | (static_cast<std::uint32_t>(60 + x / 12) << 8) | 140;
    }
  }
  const PixelRect windows[] = {{60, 40, 800, 560}, {500, 260, 880, 600}, {1000, 80, 400, 300}};
  for (const auto& w : windows) {
    for (int y = w.y; y < w.y + w.height; ++y) {
      for (int x = w.x; x < w.x + w.width; ++x) {
        const bool title = y < w.y + 28;
        std::uint32_t colour = title ? 0x3c3f41 : 0xf4f4f4;
        // Text: rows of glyph-sized marks with gaps between words.
        const int line = (y - w.y - 40) % 18;
        if (!title && y > w.y + 40 && line < 11 && ((x - w.x) / 7 + (y - w.y) / 18) % 9 != 0 &&
            random() % 3 == 0) {
          colour = 0x202020;
        }
        pixels[static_cast<std::size_t>(y) * screenSize.width + x] = colour;
      }
    }
  }
  return pixels;
}

// CPU time used so far, in seconds, by the whole process or by one thread.
double cpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
double threadCpuSeconds(std::thread& thread) {
  clockid_t clock{};
  pthread_getcpuclockid(thread.native_handle(), &clock);
  return cpuSeconds(clock);
}

// Holds the calling thread (and the threads it starts later) to one core.
void pinTo(int core) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(core % std::max(1U, std::thread::hardware_concurrency()), &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// One Xvfb for the whole run, showing the desktop picture.
struct Screen {
  Screen() : xvfb({.screenWidth = screenSize.width, .screenHeight = screenSize.height}), painter(xvfb.name()), picture(desktopPicture()) {
    painter.draw(0, 0, screenSize.width, screenSize.height, picture.data());
    painter.warpPointer(700, 450);
  }
  static Screen& shared() {
    static Screen screen;
    return screen;
  }
  testing::XvfbDisplay xvfb;
  glidemate::testing::XPainter painter;
  std::vector<std::uint32_t> picture;
};

// The capture alone: the pixels of the whole display into the host's buffer.
void BM_Capture(benchmark::State& state) {
  const bool sharedMemory = state.range(0) != 0;
  X11ScreenCapture capture({.display = Screen::shared().xvfb.name(), .useSharedMemory = sharedMemory});
  NullLogger log;
  capture.start(log);
  for (auto _ : state) {
    const auto where = capture.locate();
    auto frame = capture.grab({0, 0, where.size.width, where.size.height});
    benchmark::DoNotOptimize(frame);
  }
  state.SetLabel(sharedMemory ? "shared memory" : "through the X connection");
  capture.stop();
}
BENCHMARK(BM_Capture)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The capture on GNOME's path: mutter (headless, 1440 × 900, showing the
// test window) casts its monitor, each frame arrives through PipeWire and is
// grabbed whole. Each iteration has the window change a pixel, which makes
// mutter send a whole new frame. What is counted is this process's CPU time
// per frame (PipeWire's thread copying the frame in, the grab copying it
// out, D-Bus), beside the X11 capture's time above; mutter's own work, like
// Xvfb's, is another process's.
void BM_CaptureGnome(benchmark::State& state) {
  glidemate::testing::HeadlessMutter mutter;
  mutter.adoptEnvironment();
  auto window = glidemate::testing::startWaylandTestClient(mutter);
  if (window->readLineContaining("presented", std::chrono::seconds(30)).empty()) {
    state.SkipWithError("the test window was not shown");
    return;
  }
  asio::io_context io;
  auto work = asio::make_work_guard(io);
  auto bus = DBusConnection::openAddress(io.get_executor(), mutter.sessionBus().address());
  auto capture = std::make_unique<PipeWireScreenCapture>(io.get_executor(), std::make_shared<MutterScreenCastSource>(bus));
  std::thread mainExecutor([&] { io.run(); });
  NullLogger log;
  const auto frame = [&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      if (!capture->waitForChange(until)) continue;
      const auto where = capture->locate();
      if (capture->grab({0, 0, where.size.width, where.size.height})) return true;
    }
    return false;
  };
  try {
    capture->start(log);
    if (!frame()) {
      state.SkipWithError("no frame came");
    } else {
      const double before = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
      for (auto _ : state) {
        window->writeLine("sync");
        window->readLineContaining("synced", std::chrono::seconds(10));
        if (!frame()) {
          state.SkipWithError("the frames stopped");
          break;
        }
      }
      const double perFrame = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - before) /
                              static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
      state.counters["host_cpu_ms_per_frame"] = perFrame * 1000;
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  capture->stop();
  work.reset();
  // The cast goes on the main executor's thread, which then ends.
  asio::post(io, [&] {
    capture.reset();
    io.stop();
  });
  mainExecutor.join();
  state.SetLabel("mutter screen cast through PipeWire");
}
BENCHMARK(BM_CaptureGnome)->Iterations(120)->UseRealTime()->Unit(benchmark::kMillisecond);

// The scaler, 1440 × 900 to 1280 × 800 with bilinear filtering.
void BM_ScaleLibyuv(benchmark::State& state) {
  const auto& picture = Screen::shared().picture;
  std::vector<std::uint32_t> scaled(1280 * 800);
  for (auto _ : state) {
    libyuv::ARGBScale(reinterpret_cast<const std::uint8_t*>(picture.data()), screenSize.width * 4, screenSize.width,
                      screenSize.height, reinterpret_cast<std::uint8_t*>(scaled.data()), 1280 * 4, 1280, 800,
                      libyuv::kFilterBilinear);
    benchmark::DoNotOptimize(scaled.data());
  }
}
BENCHMARK(BM_ScaleLibyuv)->Unit(benchmark::kMillisecond);

void BM_ScalePixman(benchmark::State& state) {
  auto& picture = Screen::shared().picture;
  std::vector<std::uint32_t> scaled(1280 * 800);
  pixman_image_t* source =
      pixman_image_create_bits(PIXMAN_x8r8g8b8, screenSize.width, screenSize.height, picture.data(), screenSize.width * 4);
  pixman_image_t* target = pixman_image_create_bits(PIXMAN_x8r8g8b8, 1280, 800, scaled.data(), 1280 * 4);
  pixman_transform_t transform;
  pixman_transform_init_scale(&transform, pixman_double_to_fixed(screenSize.width / 1280.0),
                              pixman_double_to_fixed(screenSize.height / 800.0));
  pixman_image_set_transform(source, &transform);
  pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, 0, 0, 0, 0, 0, 0, 1280, 800);
    benchmark::DoNotOptimize(scaled.data());
  }
  pixman_image_unref(target);
  pixman_image_unref(source);
}
BENCHMARK(BM_ScalePixman)->Unit(benchmark::kMillisecond);

// The host's whole work for one frame: capture, cursor, scale (or crop),
// JPEG.
void BM_CaptureScaleEncode(benchmark::State& state) {
  const auto mode = static_cast<ScreenPreviewMode>(state.range(0));
  X11ScreenCapture capture({.display = Screen::shared().xvfb.name()});
  NullLogger log;
  capture.start(log);
  PreviewFrameEncoder encoder;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto where = capture.locate();
    const PixelRect region = mode == ScreenPreviewMode::cursor
                                 ? PreviewLayout::cursorCrop(where.size, where.pointer)
                                 : PixelRect{0, 0, where.size.width, where.size.height};
    const auto frame = capture.grab(region);
    bytes = encoder.encode(*frame, mode).size();
  }
  state.counters["jpeg_bytes"] = static_cast<double>(bytes);
  state.SetLabel(mode == ScreenPreviewMode::cursor ? "cursor: 960 x 600 crop" : "screen: scaled to 1280 x 800");
  capture.stop();
}
BENCHMARK(BM_CaptureScaleEncode)
    ->Arg(static_cast<int>(ScreenPreviewMode::screen))
    ->Arg(static_cast<int>(ScreenPreviewMode::cursor))
    ->Unit(benchmark::kMillisecond);

// JPEG alone, as libjpeg-turbo's own call on the picture already scaled.
void BM_BareEncode1280(benchmark::State& state) {
  const auto& picture = Screen::shared().picture;
  std::vector<std::uint32_t> scaled(1280 * 800);
  libyuv::ARGBScale(reinterpret_cast<const std::uint8_t*>(picture.data()), screenSize.width * 4, screenSize.width,
                    screenSize.height, reinterpret_cast<std::uint8_t*>(scaled.data()), 1280 * 4, 1280, 800,
                    libyuv::kFilterBilinear);
  tjhandle compressor = tjInitCompress();
  unsigned long capacity = tjBufSize(1280, 800, TJSAMP_420);
  unsigned char* buffer = tjAlloc(static_cast<int>(capacity));
  unsigned long size = 0;
  for (auto _ : state) {
    size = capacity;
    tjCompress2(compressor, reinterpret_cast<const unsigned char*>(scaled.data()), 1280, 1280 * 4, 800, TJPF_BGRX,
                &buffer, &size, TJSAMP_420, PreviewFrameEncoder::quality, TJFLAG_NOREALLOC);
  }
  state.counters["jpeg_bytes"] = static_cast<double>(size);
  tjFree(buffer);
  tjDestroy(compressor);
}
BENCHMARK(BM_BareEncode1280)->Unit(benchmark::kMillisecond);

// Runs the host's handlers until `done`; false when nothing happens for
// five seconds.
template <class Predicate>
bool runUntil(asio::io_context& io, Predicate done) {
  while (!done()) {
    if (io.stopped()) io.restart();
    if (io.run_one_for(std::chrono::seconds(5)) == 0 && !done()) return false;
  }
  return true;
}

// Phones on their own io_context and thread, each counting the whole
// frames it receives.
class Phones {
 public:
  Phones(int count, std::uint16_t port, const std::string& hostId, const std::filesystem::path& folder)
      : keys_(folder / "phone-keys"), store_(phone::PhonePairing::service, keys_) {
    for (int i = 0; i < count; ++i) {
      auto pairing = std::make_shared<phone::PhonePairing>(store_, nullptr);
      sessions_.push_back(Session::make(io_.get_executor(),
                                        StreamTransport::connect(io_.get_executor(), "127.0.0.1", port),
                                        Session::Role::client, PeerInfo{"PHONE-" + std::to_string(i), "Phone"},
                                        pairing, hostId));
    }
    frames_ = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      asio::co_spawn(io_, watch(sessions_[static_cast<std::size_t>(i)], frames_[static_cast<std::size_t>(i)], ready_),
                     [](std::exception_ptr) {});
    }
    thread_ = std::thread([this] {
      pinTo(1);
      io_.run();
    });
  }
  ~Phones() {
    asio::post(io_, [this] {
      for (auto& s : sessions_) s->close();
    });
    thread_.join();
  }

  int ready() const { return ready_.load(); }
  double cpuSeconds() { return threadCpuSeconds(thread_); }
  // The frames the slowest phone has received.
  int slowest() const {
    int least = frames_[0].load();
    for (std::size_t i = 1; i < sessions_.size(); ++i) least = std::min(least, frames_[i].load());
    return least;
  }

 private:
  static asio::awaitable<void> watch(std::shared_ptr<Session> session, std::atomic<int>& frames,
                                     std::atomic<int>& ready) {
    co_await session->performHandshake();
    auto incoming = session->messages();
    const Message ask = Message::Command{Command::SetScreenPreview{ScreenPreviewMode::screen}};
    co_await session->send(ask);
    ++ready;
    IconAssembler assembler;
    while (auto m = co_await incoming.next()) {
      if (const auto* chunk = std::get_if<Message::AppIconChunk>(&m->value)) {
        const auto outcome = assembler.accept(chunk->bundleId, chunk->totalBytes, chunk->offset, chunk->chunk);
        if (std::holds_alternative<IconAssembler::Complete>(outcome)) ++frames;
      }
    }
  }

  asio::io_context io_;
  FileKeychain keys_;
  KeychainStore store_;
  std::vector<std::shared_ptr<Session>> sessions_;
  std::unique_ptr<std::atomic<int>[]> frames_;
  std::atomic<int> ready_{0};
  std::thread thread_;
};

void BM_FramesToPhones(benchmark::State& state) {
  const int phones = static_cast<int>(state.range(0));
  Screen& screen = Screen::shared();
  const auto folder = std::filesystem::temp_directory_path() / ("glidemate-preview-bench-" + std::to_string(getpid()));
  pinTo(0);
  cpu_set_t otherCore;
  CPU_ZERO(&otherCore);
  CPU_SET(1 % std::max(1U, std::thread::hardware_concurrency()), &otherCore);
  sched_setaffinity(screen.xvfb.processId(), sizeof otherCore, &otherCore);
  asio::io_context io;
  FileKeychain hostKeys(folder / "host-keys");
  UserDefaults defaults(folder / "settings.json");
  NullLogger logger;
  HostServices services;
  services.screenPreview = std::make_unique<ScreenPreviewService>(
      io.get_executor(), std::make_unique<X11ScreenCapture>(X11ScreenCapture::Options{.display = screen.xvfb.name()}),
      logger);
  auto server = HostServer::make(io.get_executor(),
                                 HostServer::Configuration{.keys = hostKeys,
                                                           .defaults = defaults,
                                                           .logger = logger,
                                                           .hostName = "Bench",
                                                           .usbmuxSocketPath = (folder / "no-usbmuxd").string()},
                                 std::move(services));
  server->start();
  runUntil(io, [&] { return std::holds_alternative<LANListener::Listening>(server->listenerState.get()); });
  const auto port = std::get<LANListener::Listening>(server->listenerState.get()).port;

  // Paired beforehand: one shared key in both stores.
  const Bytes secret = SecureRandom::bytes(32);
  const SymmetricKey key{ByteView(secret)};
  const auto now = std::chrono::system_clock::now();
  for (int i = 0; i < phones; ++i) server->pairing.store().save(key, {"PHONE-" + std::to_string(i), "Phone", now, now});
  {
    FileKeychain phoneKeys(folder / "phone-keys");
    KeychainStore(phone::PhonePairing::service, phoneKeys).save(key, {server->hostId(), "Bench", now, now});
  }

  // The screen keeps changing, from another client on the other core.
  std::atomic<bool> painting{true};
  std::thread painter([&] {
    pinTo(1);
    glidemate::testing::XPainter brush(screen.xvfb.name());
    for (std::uint32_t i = 0; painting; ++i) brush.fill(100, 100, 200, 200, (i & 1) != 0 ? 0x808080 : 0x404040);
  });

  {
    Phones watching(phones, port, server->hostId(), folder);
    if (!runUntil(io, [&] { return watching.ready() == phones && watching.slowest() > 0; })) {
      state.SkipWithError("the phones did not get the preview");
    } else {
      // The host's own work: everything but the phones' and the painter's
      // threads (Xvfb is a process of its own).
      auto hostCpu = [&] { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - watching.cpuSeconds() - threadCpuSeconds(painter); };
      const double hostBefore = hostCpu();
      for (auto _ : state) {
        const int before = watching.slowest();
        if (!runUntil(io, [&] { return watching.slowest() > before; })) {
          state.SkipWithError("the frames stopped");
          break;
        }
      }
      const double perFrame = (hostCpu() - hostBefore) / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
      state.counters["host_cpu_ms_per_frame"] = perFrame * 1000;
      state.counters["host_core_share_at_24fps"] = perFrame * 24;
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    server->stop();
    runUntil(io, [&] { return !server->services().screenPreview->isActive(); });
  }
  painting = false;
  painter.join();
  server.reset();
  io.restart();
  io.poll();
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_FramesToPhones)->Arg(1)->Arg(4)->Iterations(96)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace glidemate::host
