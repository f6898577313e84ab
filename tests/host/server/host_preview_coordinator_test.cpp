// Who watches the screen and what each viewer is sent: phones on real
// sessions over in-memory links that a test can stall, a capture the test
// steers, and a clock it sets.
#include "host/server/host_preview_coordinator.hpp"

#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <map>

#include "host/server/host_server.hpp"
#include "host/services/screen_preview/screen_preview_service.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/transport/in_memory_transport.hpp"
#include "kit/transport/transport_error.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/protocol.hpp"
#include "tests/host/services/screen_preview/fake_screen_capture.hpp"
#include "tests/host/services/screen_preview/jpeg_image.hpp"
#include "tests/host/server/paired_phone.hpp"
#include "tests/kit/session/fake_pairing_provider.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::FakePairingProvider;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;
using testing::FakeScreenCapture;
using testing::JpegImage;

// The host's end of a phone's link; its sends can be held back, as a
// phone that stops reading holds them in a real network.
class HeldTransport final : public Transport {
 public:
  HeldTransport(const asio::any_io_executor& executor, std::shared_ptr<Transport> inner)
      : inner_(std::move(inner)), changed_(executor) {}
  TransportKind kind() const override { return inner_->kind(); }
  bool hasUnreliableChannel() const override { return false; }
  AsyncStream<TransportEvent>& events() override { return inner_->events(); }
  void start() override { inner_->start(); }
  asio::awaitable<void> send(Bytes data, Channel channel) override {
    while (passes_ == 0 && !closed_) {
      ++waiting;
      co_await changed_.wait();
      --waiting;
    }
    if (closed_) throw TransportError::closed();
    if (passes_ > 0 && passes_ != unlimited) --passes_;
    co_await inner_->send(std::move(data), channel);
  }
  void close() override {
    closed_ = true;
    changed_.notifyAll();
    inner_->close();
  }

  // Lets `count` more sends through, then holds the rest.
  void holdAfter(std::size_t count) { passes_ = count; }
  void release() {
    passes_ = unlimited;
    changed_.notifyAll();
  }
  // Sends waiting to go out.
  std::size_t waiting = 0;

 private:
  static constexpr std::size_t unlimited = static_cast<std::size_t>(-1);
  std::shared_ptr<Transport> inner_;
  Notifier changed_;
  std::size_t passes_ = unlimited;
  bool closed_ = false;
};

// A phone with an established session, keeping every frame and failure it
// is sent.
struct Viewer {
  std::string id;
  std::shared_ptr<HeldTransport> link;
  std::shared_ptr<Session> host;
  std::shared_ptr<Session> phone;
  std::vector<Bytes> frames;
  std::vector<std::string> failures;  // "command: reason"
  IconAssembler assembler;
};

class HostPreviewCoordinatorTest : public ::testing::Test {
 protected:
  asio::io_context io;
  std::shared_ptr<FakeScreenCapture::Control> screen = std::make_shared<FakeScreenCapture::Control>();
  NullLogger logger;
  ScreenPreviewService service{io.get_executor(), std::make_unique<FakeScreenCapture>(screen), logger};
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 1000s;
  std::map<const Session*, std::string> peerOfSession;
  std::shared_ptr<HostPreviewCoordinator> preview = HostPreviewCoordinator::make(
      io.get_executor(), &service,
      HostPreviewCoordinator::Directory{
          .peerIdOf = [this](const Session& s) -> std::optional<std::string> {
            const auto it = peerOfSession.find(&s);
            if (it == peerOfSession.end()) return std::nullopt;
            return it->second;
          },
          .peerEntry = [](const std::string& id) -> std::optional<ConnectedPeer> {
            return ConnectedPeer{id, "Phone " + id, TransportKind::lan, {}};
          },
      },
      HostClock{.monotonicNow = [this] { return now; }}, logger);
  std::deque<Viewer> viewers;

  void TearDown() override {
    preview->endAll();
    preview.reset();
    runAwaitable(io, service.stop());
    viewers.clear();
    io.restart();
    io.poll();
  }

  Viewer& connect(std::string id, TransportKind kind = TransportKind::lan) {
    auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {.kind = kind});
    auto hostProvider = std::make_shared<FakePairingProvider>();
    auto phoneProvider = std::make_shared<FakePairingProvider>();
    const SymmetricKey key(Bytes(32, 0x42));
    hostProvider->keys.emplace(id, key);
    phoneProvider->keys.emplace("host", key);
    Viewer& v = viewers.emplace_back();
    v.id = id;
    v.link = std::make_shared<HeldTransport>(io.get_executor(), hostEnd);
    v.host = Session::make(io.get_executor(), v.link, Session::Role::host, PeerInfo{"host", "Desk"}, hostProvider);
    v.phone = Session::make(io.get_executor(), phoneEnd, Session::Role::client, PeerInfo{id, "Phone"}, phoneProvider,
                            std::string("host"));
    int done = 0;
    auto handshake = [](std::shared_ptr<Session> s, int& finished) -> asio::awaitable<void> {
      co_await s->performHandshake();
      ++finished;
    };
    asio::co_spawn(io, handshake(v.host, done), asio::detached);
    asio::co_spawn(io, handshake(v.phone, done), asio::detached);
    EXPECT_TRUE(runUntil(io, [&] { return done == 2; }));
    asio::co_spawn(io, [](Viewer& viewer) -> asio::awaitable<void> {
      auto incoming = viewer.phone->messages();
      while (auto m = co_await incoming.next()) {
        if (const auto* chunk = std::get_if<Message::AppIconChunk>(&m->value)) {
          auto outcome = viewer.assembler.accept(chunk->bundleId, chunk->totalBytes, chunk->offset, chunk->chunk);
          if (auto* whole = std::get_if<IconAssembler::Complete>(&outcome)) viewer.frames.push_back(whole->data);
        } else if (const auto* event = std::get_if<Message::Event>(&m->value)) {
          if (const auto* failed = std::get_if<Event::Failed>(&event->event.value)) {
            viewer.failures.push_back(failed->command + ": " + failed->reason);
          }
        }
      }
    }(v), asio::detached);
    peerOfSession[v.host.get()] = id;
    return v;
  }

  void ask(Viewer& v, ScreenPreviewMode mode) { runAwaitable(io, preview->setScreenPreview(v.host, mode)); }

  // Asks for the preview and waits until the frame every join brings has
  // reached everyone watching; no other frame is on its way then.
  void watch(Viewer& v) {
    const auto before = v.frames.size();
    ask(v, ScreenPreviewMode::screen);
    waitForFrames(v, before + 1);
    ASSERT_TRUE(runUntil(io, [&] { return !preview->frameInFlight(); }));
  }

  void waitForFrames(Viewer& v, std::size_t count) {
    ASSERT_TRUE(runUntil(io, [&] { return v.frames.size() >= count; })) << v.id << " has " << v.frames.size();
  }

  int captureStarts() {
    std::lock_guard guard(screen->lock);
    return screen->starts;
  }
  bool capturing() {
    std::lock_guard guard(screen->lock);
    return screen->running;
  }

  // A frame whose bytes say which it is (the assembler checks nothing else).
  static Bytes frame(std::uint8_t tag, std::size_t size = 100) { return Bytes(size, tag); }
};

TEST_F(HostPreviewCoordinatorTest, APhoneOnBluetoothIsRefusedAndNotAdded) {
  Viewer& phone = connect("A", TransportKind::ble);
  ask(phone, ScreenPreviewMode::screen);
  ASSERT_TRUE(runUntil(io, [&] { return !phone.failures.empty(); }));
  EXPECT_EQ(phone.failures, (std::vector<std::string>{
                                "screenPreview: Screen preview needs Wi-Fi or a USB cable; Bluetooth is too slow for it."}));
  EXPECT_TRUE(preview->previewSessions().empty());
  EXPECT_EQ(captureStarts(), 0);
}

TEST_F(HostPreviewCoordinatorTest, TwoViewersShareOneCaptureThatStopsAfterTheLastLeaves) {
  Viewer& a = connect("A");
  Viewer& b = connect("B");
  watch(a);
  watch(b);  // a newcomer sees the still screen at once
  EXPECT_EQ(captureStarts(), 1);
  EXPECT_EQ(preview->viewers.get(), (std::vector<ConnectedPeer>{{"A", "Phone A", TransportKind::lan, {}},
                                                                 {"B", "Phone B", TransportKind::lan, {}}}));
  EXPECT_TRUE(preview->isViewing("A") && preview->isViewing("B"));

  ask(a, ScreenPreviewMode::off);
  EXPECT_TRUE(service.hasStream());
  EXPECT_FALSE(preview->isViewing("A"));
  const auto had = b.frames.size();
  screen->change();
  waitForFrames(b, had + 1);

  preview->stopPreview(*b.host);
  EXPECT_TRUE(preview->isStopping());
  ASSERT_TRUE(runUntil(io, [&] { return !service.isActive(); }));
  EXPECT_FALSE(capturing());
  EXPECT_TRUE(preview->viewers->empty());
  EXPECT_TRUE(a.failures.empty() && b.failures.empty());
}

TEST_F(HostPreviewCoordinatorTest, AModeSwitchChangesEveryViewersFramesWithoutRestartingTheCapture) {
  Viewer& a = connect("A");
  Viewer& b = connect("B");
  watch(a);
  ask(b, ScreenPreviewMode::cursor);
  auto cropped = [](const Viewer& v) { return !v.frames.empty() && JpegImage(v.frames.back()).width() == 960; };
  ASSERT_TRUE(runUntil(io, [&] { return cropped(a) && cropped(b); }));
  EXPECT_EQ(JpegImage(a.frames.front()).width(), 1280);
  EXPECT_EQ(captureStarts(), 1);
}

TEST_F(HostPreviewCoordinatorTest, AHundredModeSwitchesKeepOneCaptureAndEndInTheLastMode) {
  Viewer& a = connect("A");
  for (int i = 0; i < 100; ++i) ask(a, i % 2 == 0 ? ScreenPreviewMode::cursor : ScreenPreviewMode::screen);
  ask(a, ScreenPreviewMode::cursor);
  ASSERT_TRUE(runUntil(io, [&] { return !a.frames.empty() && JpegImage(a.frames.back()).width() == 960; }));
  EXPECT_EQ(captureStarts(), 1);
  EXPECT_EQ(preview->previewSessions().size(), 1U);
}

TEST_F(HostPreviewCoordinatorTest, AFrameIsDroppedWhileOneIsOnItsWayForHalfASecondThenSent) {
  Viewer& slow = connect("A");
  Viewer& quick = connect("B");
  watch(slow);
  watch(quick);
  const auto slowHad = slow.frames.size();
  const auto quickHad = quick.frames.size();

  slow.link->holdAfter(0);
  const auto sentAt = now;
  preview->deliverFrame(frame(1));
  waitForFrames(quick, quickHad + 1);
  EXPECT_TRUE(preview->frameInFlight());

  now = sentAt + 300ms;
  preview->deliverFrame(frame(2));  // dropped for everyone
  now = sentAt + 600ms;
  preview->deliverFrame(frame(3));  // sent, though the first is still on its way
  waitForFrames(quick, quickHad + 2);
  EXPECT_EQ(preview->frameSentAt(), sentAt + 600ms);
  EXPECT_EQ(quick.frames[quickHad], frame(1));
  EXPECT_EQ(quick.frames[quickHad + 1], frame(3));

  // The stalled phone was passed over, not queued for; once it reads again
  // it gets its frame and then a fresh one of the screen as it is.
  EXPECT_EQ(slow.link->waiting, 1U);
  slow.link->release();
  waitForFrames(slow, slowHad + 2);
  EXPECT_EQ(slow.frames[slowHad], frame(1));
  EXPECT_EQ(JpegImage(slow.frames[slowHad + 1]).width(), 1280);
}

TEST_F(HostPreviewCoordinatorTest, APhoneThatNeverReadsHoldsOneFrameAndTheOthersKeepTheirStream) {
  Viewer& stalled = connect("A");
  Viewer& reader = connect("B");
  watch(stalled);
  watch(reader);
  const auto stalledHad = stalled.frames.size();
  const auto readerHad = reader.frames.size();
  stalled.link->holdAfter(0);

  for (std::uint8_t i = 1; i <= 50; ++i) {
    now += 600ms;
    preview->deliverFrame(frame(i, 70000));  // three chunks each
    waitForFrames(reader, readerHad + i);
    EXPECT_EQ(reader.frames.back(), frame(i, 70000));
  }
  EXPECT_EQ(stalled.link->waiting, 1U);
  EXPECT_EQ(stalled.frames.size(), stalledHad);
}

TEST_F(HostPreviewCoordinatorTest, AViewerThatDisconnectsMidFrameLeavesTheOthersTheirStream) {
  Viewer& leaving = connect("A");
  Viewer& staying = connect("B");
  watch(leaving);
  watch(staying);
  const auto leavingHad = leaving.frames.size();
  const auto stayingHad = staying.frames.size();

  leaving.link->holdAfter(1);  // the first of three chunks goes out
  preview->deliverFrame(frame(1, 70000));
  waitForFrames(staying, stayingHad + 1);
  leaving.host->close();
  preview->stopPreview(*leaving.host);  // as the session's clean-up does
  ASSERT_TRUE(runUntil(io, [&] { return !preview->frameInFlight(); }));

  now += 10ms;
  preview->deliverFrame(frame(2));
  waitForFrames(staying, stayingHad + 2);
  EXPECT_EQ(staying.frames.back(), frame(2));
  EXPECT_EQ(leaving.frames.size(), leavingHad);
  EXPECT_EQ(preview->viewers->size(), 1U);
}

TEST_F(HostPreviewCoordinatorTest, StoppingAllPreviewsTellsEveryViewer) {
  Viewer& a = connect("A");
  Viewer& b = connect("B");
  ask(a, ScreenPreviewMode::screen);
  ask(b, ScreenPreviewMode::cursor);
  preview->stopAllPreviews();
  EXPECT_TRUE(preview->previewSessions().empty());
  const std::vector<std::string> told = {"screenPreview: Screen preview was turned off on the Mac."};
  ASSERT_TRUE(runUntil(io, [&] { return !a.failures.empty() && !b.failures.empty(); }));
  EXPECT_EQ(a.failures, told);
  EXPECT_EQ(b.failures, told);
  ASSERT_TRUE(runUntil(io, [&] { return !service.isActive(); }));
}

TEST_F(HostPreviewCoordinatorTest, ACaptureThatCannotStartIsReportedToThePhoneThatAsked) {
  screen->failStart = true;
  Viewer& a = connect("A");
  ask(a, ScreenPreviewMode::screen);
  ASSERT_TRUE(runUntil(io, [&] { return !a.failures.empty(); }));
  EXPECT_EQ(a.failures, (std::vector<std::string>{"screenPreview: The Mac could not start capturing its screen."}));
  EXPECT_TRUE(preview->previewSessions().empty());
  EXPECT_TRUE(preview->viewers->empty());
}

TEST_F(HostPreviewCoordinatorTest, AViewerArrivingDuringAStopGetsAFreshCaptureOnceItHasEnded) {
  Viewer& a = connect("A");
  Viewer& b = connect("B");
  watch(a);
  ask(a, ScreenPreviewMode::off);
  watch(b);
  EXPECT_EQ(captureStarts(), 2);
  EXPECT_TRUE(service.hasStream());
}

// The preview as a phone reaches it: the command through the host server,
// and the host's clean-up when the phone goes.
class ScreenPreviewThroughTheHostTest : public ::testing::Test {
 protected:
  asio::io_context io;
  std::shared_ptr<FakeScreenCapture::Control> screen = std::make_shared<FakeScreenCapture::Control>();
  glidemate::testing::MemoryKeychain hostKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-preview-test-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  ScreenPreviewService* service = nullptr;
  std::shared_ptr<HostServer> server = makeServer();
  glidemate::testing::PairedPhone phone{io, *server};

  std::shared_ptr<HostServer> makeServer() {
    HostServices services;
    services.screenPreview =
        std::make_unique<ScreenPreviewService>(io.get_executor(), std::make_unique<FakeScreenCapture>(screen), logger);
    service = services.screenPreview.get();
    return HostServer::make(io.get_executor(),
                            HostServer::Configuration{.keys = hostKeys, .defaults = defaults, .logger = logger, .hostName = "Desk"},
                            std::move(services));
  }

  void TearDown() override {
    server.reset();
    io.restart();
    io.poll();
    std::filesystem::remove(settings);
  }

  void watch() {
    phone.send(Message::Command{Command::SetScreenPreview{ScreenPreviewMode::cursor}});
    ASSERT_TRUE(runUntil(io, [&] {
      return std::any_of(phone.received.begin(), phone.received.end(), [](const Message& m) {
        const auto* chunk = std::get_if<Message::AppIconChunk>(&m.value);
        return chunk != nullptr && chunk->bundleId == ScreenPreview::frameId;
      });
    }));
    ASSERT_EQ(server->preview().viewers->size(), 1U);
    EXPECT_EQ(server->preview().viewers->front().name, "Phone");
  }
};

TEST_F(ScreenPreviewThroughTheHostTest, APhoneWatchesUntilItsSessionEnds) {
  watch();
  phone.session->close();
  ASSERT_TRUE(runUntil(io, [&] { return !service->isActive(); }));
  EXPECT_TRUE(server->preview().viewers->empty());
  EXPECT_TRUE(server->preview().previewSessions().empty());
}

TEST_F(ScreenPreviewThroughTheHostTest, StoppingTheHostStopsTheCapture) {
  watch();
  server->stop();
  ASSERT_TRUE(runUntil(io, [&] { return !service->isActive(); }));
  EXPECT_TRUE(server->preview().previewSessions().empty());
}

}  // namespace
}  // namespace glidemate::host
