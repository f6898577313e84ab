// Throughput of the wire format's hot paths: framing, the binary messages
// and the JSON commands and events.
#include <benchmark/benchmark.h>

#include "kit/wire/message_codec.hpp"
#include "kit/wire/record_framer.hpp"

namespace glidemate {
namespace {

// Thirty-two records the size of a sealed pointer move (12-byte frame header,
// 9-byte message, 16-byte tag) arriving in 1400-byte reads, as a TCP stream
// would deliver them.
void BM_FrameAndReassemble(benchmark::State& state) {
  const Bytes body(37, 0xA5);
  Bytes stream;
  for (int i = 0; i < 32; ++i) RecordFramer::encode(RecordKind::encrypted, body, stream);
  RecordFramer framer;
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += 1400) {
      framer.append(ByteView(stream).subspan(at, std::min<std::size_t>(1400, stream.size() - at)));
      while (auto record = framer.next()) benchmark::DoNotOptimize(record);
    }
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_FrameAndReassemble);

void BM_RecordEncode(benchmark::State& state) {
  const Bytes body(37, 0xA5);
  Bytes out;
  for (auto _ : state) {
    out.clear();
    RecordFramer::encode(RecordKind::encrypted, body, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordEncode);

void BM_PointerMoveEncodeDecode(benchmark::State& state) {
  const Message move = Message::PointerMove{3.5f, -1.25f};
  for (auto _ : state) {
    const Bytes bytes = MessageCodec::encode(move);
    benchmark::DoNotOptimize(MessageCodec::decode(bytes));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PointerMoveEncodeDecode);

void BM_TextDecode(benchmark::State& state) {
  // 100 bytes of mixed one- and two-byte characters.
  std::string text;
  while (text.size() < 98) text += "héllo wörld ";
  while (text.size() < 100) text += ".";
  const Bytes bytes = MessageCodec::encode(Message::Text{text});
  for (auto _ : state) benchmark::DoNotOptimize(MessageCodec::decode(bytes));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextDecode);

void BM_CommandDecode(benchmark::State& state) {
  const Bytes bytes = MessageCodec::encode(Message::Command{Command::SetVolume{0.5f}});
  for (auto _ : state) benchmark::DoNotOptimize(MessageCodec::decode(bytes));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommandDecode);

void BM_AppsEventDecode(benchmark::State& state) {
  std::vector<AppInfo> apps;
  for (int i = 0; i < 50; ++i) {
    apps.push_back({"org.example.app" + std::to_string(i), "Application " + std::to_string(i), i % 3 == 0});
  }
  const Bytes bytes = MessageCodec::encode(Message::Event{Event::Apps{apps}});
  for (auto _ : state) benchmark::DoNotOptimize(MessageCodec::decode(bytes));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_AppsEventDecode);

}  // namespace
}  // namespace glidemate
