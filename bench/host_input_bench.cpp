// A phone's pointer move from its send to the event poster of a running host,
// over loopback, beside a bare UDP datagram of the same size crossing the same
// loopback in the same run. The host is the real one (listener, session,
// dispatcher, input service); its poster only notes the time of each call.
// Everything runs on one io_context on one thread, as the host does.
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/use_awaitable.hpp>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <vector>

#include "host/input/recording_event_poster.hpp"
#include "host/server/host_server.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "kit/transport/stream_transport.hpp"
#include "phone/phone_pairing.hpp"

namespace glidemate::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int samples = 2000;

// Answers like a 1920x1080 desktop and notes when each event is posted.
class TimingPoster final : public EventPoster {
 public:
  std::optional<EventSource> createSource(EventSourceStateId id) override { return inner_.createSource(id); }
  std::optional<ScreenPoint> cursorLocation() override { return inner_.cursorLocation(); }
  void post(const InputEvent&, EventTapLocation) override {
    ++posted;
    lastPostAt = Clock::now();
  }
  std::optional<std::vector<ScreenRect>> activeDisplayBounds() override { return inner_.activeDisplayBounds(); }
  std::optional<double> mainDisplayRefreshRate() override { return inner_.mainDisplayRefreshRate(); }
  std::chrono::duration<double> doubleClickInterval() override { return inner_.doubleClickInterval(); }
  bool isSecureEventInputEnabled() override { return false; }
  void hideCursor() override {}
  void showCursor() override {}

  int posted = 0;
  Clock::time_point lastPostAt;

 private:
  RecordingEventPoster inner_;
};

void report(benchmark::State& state, std::vector<double>& latenciesNs) {
  if (latenciesNs.empty()) return;
  std::sort(latenciesNs.begin(), latenciesNs.end());
  state.counters["p50_us"] = latenciesNs[latenciesNs.size() / 2] / 1000.0;
  state.counters["p99_us"] = latenciesNs[latenciesNs.size() * 99 / 100] / 1000.0;
}

// Runs handlers until `done`; false when nothing happens for a second.
template <class Predicate>
bool runUntil(asio::io_context& io, Predicate done) {
  while (!done()) {
    if (io.stopped()) io.restart();
    if (io.run_one_for(std::chrono::seconds(1)) == 0 && !done()) return false;
  }
  return true;
}

void BM_PhoneToPoster(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / ("glidemate-bench-" + std::to_string(getpid()));
  asio::io_context io;
  TimingPoster poster;
  FileKeychain hostKeys(dir / "host-keys");
  FileKeychain phoneKeys(dir / "phone-keys");
  UserDefaults defaults(dir / "settings.json");
  NullLogger logger;
  auto server = HostServer::make(io.get_executor(), HostServer::Configuration{
                                                        .keys = hostKeys,
                                                        .defaults = defaults,
                                                        .logger = logger,
                                                        .hostName = "Bench",
                                                        .poster = &poster,
                                                        .usbmuxSocketPath = (dir / "no-usbmuxd").string(),
                                                    });
  server->start();
  runUntil(io, [&] { return std::holds_alternative<LANListener::Listening>(server->listenerState.get()); });
  const auto port = std::get<LANListener::Listening>(server->listenerState.get()).port;

  KeychainStore phoneStore(phone::PhonePairing::service, phoneKeys);
  auto pairing = std::make_shared<phone::PhonePairing>(
      phoneStore, [&](const PeerInfo&) { return server->pairing.activeCode.get(); });
  auto phone = Session::make(io.get_executor(), StreamTransport::connect(io.get_executor(), "127.0.0.1", port),
                             Session::Role::client, PeerInfo{"BENCH", "Bench phone"}, pairing);
  bool ready = false;
  asio::co_spawn(io, phone->performHandshake(), [&](std::exception_ptr, PeerInfo) { ready = true; });
  if (!runUntil(io, [&] { return ready && phone->isEstablished() && !server->peers->empty(); })) {
    state.SkipWithError("the phone did not connect");
    return;
  }

  std::vector<double> latencies;
  for (auto _ : state) {
    for (int i = 0; i < samples; ++i) {
      const int before = poster.posted;
      const auto sentAt = Clock::now();
      Message move = Message::PointerMove{i % 2 == 0 ? 1.0f : -1.0f, 0.5f};
      asio::co_spawn(io, phone->send(std::move(move), Channel::unreliable), asio::detached);
      if (!runUntil(io, [&] { return poster.posted > before; })) continue;  // a lost datagram
      latencies.push_back(std::chrono::duration<double, std::nano>(poster.lastPostAt - sentAt).count());
    }
  }
  report(state, latencies);
  phone->close();
  server->stop();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PhoneToPoster)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same loopback with nothing of ours on it: one 40-byte datagram (a
// sealed pointer move's record) from one UDP socket to another.
void BM_BareLoopbackDatagram(benchmark::State& state) {
  using asio::ip::udp;
  asio::io_context io;
  udp::socket receiver(io, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  udp::socket sender(io, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  sender.connect(receiver.local_endpoint());
  std::array<std::uint8_t, 40> payload{};
  std::array<std::uint8_t, 64> buffer{};
  std::vector<double> latencies;
  for (auto _ : state) {
    for (int i = 0; i < samples; ++i) {
      bool arrived = false;
      Clock::time_point arrivedAt;
      receiver.async_receive(asio::buffer(buffer), [&](asio::error_code, std::size_t) {
        arrivedAt = Clock::now();
        arrived = true;
      });
      const auto sentAt = Clock::now();
      sender.async_send(asio::buffer(payload), [](asio::error_code, std::size_t) {});
      if (!runUntil(io, [&] { return arrived; })) continue;
      latencies.push_back(std::chrono::duration<double, std::nano>(arrivedAt - sentAt).count());
    }
  }
  report(state, latencies);
}
BENCHMARK(BM_BareLoopbackDatagram)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace glidemate::host
