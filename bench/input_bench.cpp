// The cost of one pointer move from InputService to the poster call.
#include <benchmark/benchmark.h>

#include <chrono>

#include "host/input/input_service.hpp"
#include "host/input/recording_event_poster.hpp"

namespace {

using glidemate::host::InputService;
using glidemate::host::RecordingEventPoster;

void pointerMove(benchmark::State& state) {
  RecordingEventPoster poster;
  auto now = std::chrono::steady_clock::time_point{};
  InputService input(poster, [&now] { return now; });
  double direction = 1;
  for (auto _ : state) {
    // Phone moves arrive every few milliseconds: no resync in between.
    now += std::chrono::milliseconds(4);
    input.move(3.5 * direction, -1.25 * direction);
    direction = -direction;
    if (poster.posted().size() == 4096) poster.clear();  // keeps its capacity
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(pointerMove);

}  // namespace
