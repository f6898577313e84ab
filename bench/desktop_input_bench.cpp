// A pointer move from the input service into a real desktop, on each Linux
// path: the cost of one move on the main executor (building and sending
// the request), and the time until the move has landed: on GNOME until a
// Wayland window sees the motion (headless mutter, our D-Bus session), on
// sway likewise (headless sway as nobody, our virtual pointer), on X11
// until the server reports the pointer moved (Xvfb, XTest).
#include <asio/io_context.hpp>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "host/gnome/mutter_remote_desktop.hpp"
#include "host/input/input_service.hpp"
#include "host/input/remote_desktop/remote_desktop_event_poster.hpp"
#include "host/input/x11/x11_event_poster.hpp"
#include "host/wlroots/wlroots_virtual_input.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/support/wayland/headless_mutter.hpp"
#include "tests/support/wayland/headless_sway.hpp"
#include "tests/support/x_pointer.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int samples = 500;
// Only keeps a broken run from hanging.
constexpr auto patience = 10000ms;

void report(benchmark::State& state, std::vector<double>& latenciesNs) {
  if (latenciesNs.empty()) return;
  std::sort(latenciesNs.begin(), latenciesNs.end());
  state.counters["p50_us"] = latenciesNs[latenciesNs.size() / 2] / 1000.0;
  state.counters["p99_us"] = latenciesNs[latenciesNs.size() * 99 / 100] / 1000.0;
}

template <class Predicate>
bool runUntil(asio::io_context& io, Predicate done) {
  const auto deadline = Clock::now() + patience;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    io.restart();
    io.run_one_for(50ms);
  }
  return true;
}

// Headless mutter with a full-screen window of ours under the pointer, and
// the host's session and poster on one io_context.
struct Gnome {
  glidemate::testing::HeadlessMutter mutter;
  asio::io_context io;
  std::shared_ptr<DBusConnection> connection;
  NullLogger logger;
  std::unique_ptr<MutterRemoteDesktop> session;
  std::unique_ptr<RemoteDesktopEventPoster> poster;
  std::unique_ptr<glidemate::testing::ChildProcess> window;
  Clock::time_point now{100s};
  std::unique_ptr<InputService> input;

  // Empty when something did not start.
  std::string start() {
    mutter.adoptEnvironment();
    connection = DBusConnection::openAddress(io.get_executor(), mutter.sessionBus().address());
    session = std::make_unique<MutterRemoteDesktop>(io.get_executor(), connection, logger);
    poster = std::make_unique<RemoteDesktopEventPoster>(*session, nullptr, logger);
    input = std::make_unique<InputService>(*poster, [this] { return now; });
    if (!runUntil(io, [&] { return session->isReady(); })) return "no remote-desktop session";
    window = glidemate::testing::startWaylandTestClient(mutter);
    if (window->readLineContaining("keyboard-enter", patience).empty()) return "the window did not show";
    // The window hears of the pointer once it moves.
    for (int i = 0; i < 20; ++i) {
      input->move(1, 0);
      io.poll();
      if (!window->readLineContaining("motion", 1000ms).empty()) return {};
    }
    return "the pointer never reached the window";
  }
};

void BM_GnomeMoveCost(benchmark::State& state) {
  Gnome gnome;
  if (auto error = gnome.start(); !error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  double direction = 1;
  for (auto _ : state) {
    gnome.now += 4ms;
    gnome.input->move(direction, 0);
    direction = -direction;
    // Lets the connection write what was queued, as the main loop would.
    gnome.io.poll();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GnomeMoveCost)->Iterations(2000);

void BM_GnomeMoveToWindow(benchmark::State& state) {
  Gnome gnome;
  if (auto error = gnome.start(); !error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<double> latencies;
  double direction = 1;
  for (auto _ : state) {
    for (int i = 0; i < samples; ++i) {
      gnome.now += 4ms;
      const auto sentAt = Clock::now();
      gnome.input->move(direction, 0);
      direction = -direction;
      gnome.io.poll();
      if (gnome.window->readLineContaining("motion", patience).empty()) {
        state.SkipWithError("a move never reached the window");
        return;
      }
      latencies.push_back(std::chrono::duration<double, std::nano>(Clock::now() - sentAt).count());
    }
  }
  report(state, latencies);
}
BENCHMARK(BM_GnomeMoveToWindow)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Headless sway with a full-screen window of ours, and the host's virtual
// input and poster on one io_context.
struct Sway {
  glidemate::testing::HeadlessSway sway;
  asio::io_context io;
  NullLogger logger;
  VirtualKeyboardLayout layout;
  std::unique_ptr<WlrootsVirtualInput> session;
  std::unique_ptr<RemoteDesktopEventPoster> poster;
  std::unique_ptr<glidemate::testing::ChildProcess> window;
  Clock::time_point now{100s};
  std::unique_ptr<InputService> input;

  // Empty when something did not start.
  std::string start() {
    sway.adoptEnvironment();
    session = std::make_unique<WlrootsVirtualInput>(io.get_executor(), logger, WlrootsVirtualInput::Options{});
    poster = std::make_unique<RemoteDesktopEventPoster>(*session, &layout, logger);
    input = std::make_unique<InputService>(*poster, [this] { return now; });
    if (!runUntil(io, [&] { return session->isReady(); })) return "no virtual pointer";
    window = glidemate::testing::startWaylandTestClient(sway);
    if (window->readLineContaining("keyboard-enter", patience).empty()) return "the window did not show";
    for (int i = 0; i < 20; ++i) {
      input->move(1, 0);
      io.poll();
      if (!window->readLineContaining("motion", 1000ms).empty()) return {};
    }
    return "the pointer never reached the window";
  }
};

void BM_SwayMoveCost(benchmark::State& state) {
  Sway sway;
  if (auto error = sway.start(); !error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  double direction = 1;
  for (auto _ : state) {
    sway.now += 4ms;
    sway.input->move(direction, 0);
    direction = -direction;
    // Reads what sway sent back, as the main loop would.
    sway.io.poll();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SwayMoveCost)->Iterations(2000);

void BM_SwayMoveToWindow(benchmark::State& state) {
  Sway sway;
  if (auto error = sway.start(); !error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<double> latencies;
  double direction = 1;
  for (auto _ : state) {
    for (int i = 0; i < samples; ++i) {
      sway.now += 4ms;
      const auto sentAt = Clock::now();
      sway.input->move(direction, 0);
      direction = -direction;
      sway.io.poll();
      if (sway.window->readLineContaining("motion", patience).empty()) {
        state.SkipWithError("a move never reached the window");
        return;
      }
      latencies.push_back(std::chrono::duration<double, std::nano>(Clock::now() - sentAt).count());
    }
  }
  report(state, latencies);
}
BENCHMARK(BM_SwayMoveToWindow)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_X11MoveCost(benchmark::State& state) {
  testing::XvfbDisplay xvfb;
  X11EventPoster poster(xvfb.name());
  auto now = Clock::time_point{100s};
  InputService input(poster, [&] { return now; });
  double direction = 1;
  for (auto _ : state) {
    now += 4ms;
    input.move(direction, 0);
    direction = -direction;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_X11MoveCost)->Iterations(2000);

void BM_X11MoveToServer(benchmark::State& state) {
  testing::XvfbDisplay xvfb;
  X11EventPoster poster(xvfb.name());
  glidemate::testing::XPointer pointer(xvfb.name());
  pointer.warpTo({200, 200});
  auto now = Clock::time_point{100s};
  InputService input(poster, [&] { return now; });
  std::vector<double> latencies;
  double direction = 1;
  for (auto _ : state) {
    for (int i = 0; i < samples; ++i) {
      now += 4ms;
      const auto before = pointer.position();
      const auto sentAt = Clock::now();
      input.move(direction, 0);
      direction = -direction;
      while (pointer.position() == before) {
        if (Clock::now() - sentAt > patience) {
          state.SkipWithError("a move never reached the server");
          return;
        }
      }
      latencies.push_back(std::chrono::duration<double, std::nano>(Clock::now() - sentAt).count());
    }
  }
  report(state, latencies);
}
BENCHMARK(BM_X11MoveToServer)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace glidemate::host
