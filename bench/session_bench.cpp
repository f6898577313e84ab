// One session's cost on the real network path, over loopback: pointer moves
// per second from a phone session to a host session on the datagram channel
// and on the TCP stream, and the one-way latency of a single message (median
// and 99th percentile), each beside the same traffic on bare Asio sockets:
// a UDP socket pair and a TCP connection carrying 40-byte payloads, the size
// of a sealed pointer-move record. Ratios ours / bare are the session's
// overhead (framing, sealing, opening, ordering, the pump and the message
// stream). The same records on the StreamTransports alone, without a
// session, split that overhead between the transport and the session.
//
// Everything runs on one io_context on one thread, as the host does. The
// sender keeps a window of messages in flight (32 for throughput, 1 for
// latency) so that the loopback UDP buffer never overflows; latency is
// receive time minus the send time carried in the message, on one steady
// clock.
#include "kit/session/session.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/read.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "kit/runtime/notifier.hpp"
#include "kit/transport/stream_transport.hpp"

namespace glidemate {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t batch = 2000;
constexpr std::size_t throughputWindow = 32;
constexpr std::size_t payloadSize = 40;  // 3-byte record head, 12-byte frame header, 9-byte message, 16-byte tag

std::uint64_t nowNs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
}

class KeyProvider final : public PairingProvider {
 public:
  asio::awaitable<std::optional<SymmetricKey>> longTermKey([[maybe_unused]] std::string peerId) override {
    co_return SymmetricKey(Bytes(32, 0x5a));
  }
  asio::awaitable<std::optional<PairingCode>> beginPairing([[maybe_unused]] PeerInfo peer) override {
    co_return std::nullopt;
  }
  asio::awaitable<void> pairingSucceeded([[maybe_unused]] SymmetricKey key, [[maybe_unused]] PeerInfo peer) override {
    co_return;
  }
  asio::awaitable<void> pairingFailed([[maybe_unused]] PeerInfo peer) override { co_return; }
  asio::awaitable<bool> holdsAnyLongTermKey() override { co_return true; }
};

// What the receiving side has seen, and the wake-up the sender waits on.
struct Progress {
  explicit Progress(asio::io_context& io) : changed(io.get_executor()) {}
  Notifier changed;
  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  std::vector<double> latenciesNs;

  void arrived(std::uint64_t sentAtNs) {
    if (sentAtNs != 0) latenciesNs.push_back(static_cast<double>(nowNs() - sentAtNs));
    ++received;
    changed.notifyAll();
  }
};

// Runs the context until `target` messages have arrived. False if nothing
// happened for a second (a lost datagram).
bool runUntilReceived(asio::io_context& io, Progress& progress, std::uint64_t target) {
  while (progress.received < target) {
    if (io.run_one_for(std::chrono::seconds(1)) == 0) return false;
  }
  return true;
}

void reportLatency(benchmark::State& state, std::vector<double>& latencies) {
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  state.counters["p50_us"] = latencies[latencies.size() / 2] / 1000.0;
  state.counters["p99_us"] = latencies[latencies.size() * 99 / 100] / 1000.0;
}

// --- Sessions -----------------------------------------------------------------

struct SessionPair {
  SessionPair() {
    asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    auto provider = std::make_shared<KeyProvider>();
    phone = Session::make(io.get_executor(),
                          StreamTransport::connect(io.get_executor(), "127.0.0.1", acceptor.local_endpoint().port()),
                          Session::Role::client, {"phone", "Phone"}, provider, std::string("host"));
    int done = 0;
    asio::co_spawn(io, phone->performHandshake(), [&](std::exception_ptr, PeerInfo) { ++done; });
    asio::ip::tcp::socket accepted(io);
    bool isAccepted = false;
    acceptor.async_accept(accepted, [&](asio::error_code) { isAccepted = true; });
    while (!isAccepted) io.run_one();
    host = Session::make(io.get_executor(), StreamTransport::make(std::move(accepted), TransportKind::lan),
                         Session::Role::host, {"host", "Desk"}, provider);
    asio::co_spawn(io, host->performHandshake(), [&](std::exception_ptr, PeerInfo) { ++done; });
    while (done < 2) io.run_one();
  }

  asio::io_context io;
  std::shared_ptr<Session> phone;
  std::shared_ptr<Session> host;
};

asio::awaitable<void> receiveMessages(AsyncStream<Message> stream, Progress* progress) {
  while (auto message = co_await stream.next()) {
    const auto* ping = std::get_if<Message::Ping>(&message->value);
    progress->arrived(ping != nullptr ? ping->sendTimeNs : 0);
  }
}

asio::awaitable<void> sendMessages(std::shared_ptr<Session> session, Channel channel, bool timed, std::size_t count,
                                   std::size_t window, Progress* progress) {
  for (std::size_t i = 0; i < count; ++i) {
    while (progress->sent - progress->received >= window) co_await progress->changed.wait();
    const Message message = timed ? Message(Message::Ping{nowNs()}) : Message(Message::PointerMove{1.5F, -0.5F});
    ++progress->sent;
    co_await session->send(message, channel);
  }
}

void runSession(benchmark::State& state, Channel channel, bool timed, std::size_t window) {
  SessionPair pair;
  if (channel == Channel::unreliable && !pair.phone->transport()->hasUnreliableChannel()) {
    state.SkipWithError("no datagram channel");
    return;
  }
  Progress progress(pair.io);
  asio::co_spawn(pair.io, receiveMessages(pair.host->messages(), &progress), asio::detached);
  for (auto _ : state) {
    asio::co_spawn(pair.io, sendMessages(pair.phone, channel, timed, batch, window, &progress), asio::detached);
    if (!runUntilReceived(pair.io, progress, progress.sent + batch)) {
      state.SkipWithError("a message was lost");
      return;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
  if (timed) reportLatency(state, progress.latenciesNs);
}

void BM_SessionDatagramThroughput(benchmark::State& state) {
  runSession(state, Channel::unreliable, false, throughputWindow);
}
void BM_SessionStreamThroughput(benchmark::State& state) {
  runSession(state, Channel::reliable, false, throughputWindow);
}
void BM_SessionDatagramLatency(benchmark::State& state) { runSession(state, Channel::unreliable, true, 1); }
void BM_SessionStreamLatency(benchmark::State& state) { runSession(state, Channel::reliable, true, 1); }

// --- The transports alone, without the session ---------------------------------

asio::awaitable<void> receiveEvents(std::shared_ptr<Transport> transport, Progress* progress) {
  std::size_t streamBytes = 0;
  while (auto event = co_await transport->events().next()) {
    if (const auto* data = std::get_if<TransportEvent::Data>(&event->value)) {
      if (data->channel == Channel::unreliable) {
        progress->arrived(0);
      } else {
        streamBytes += data->bytes.size();
        for (; streamBytes >= payloadSize; streamBytes -= payloadSize) progress->arrived(0);
      }
    }
  }
}

asio::awaitable<void> sendRecords(std::shared_ptr<Transport> transport, Channel channel, std::size_t count,
                                  std::size_t window, Progress* progress) {
  for (std::size_t i = 0; i < count; ++i) {
    while (progress->sent - progress->received >= window) co_await progress->changed.wait();
    Bytes record(payloadSize, 0xA5);
    ++progress->sent;
    co_await transport->send(std::move(record), channel);
  }
}

void runTransport(benchmark::State& state, Channel channel) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  auto phone = StreamTransport::connect(io.get_executor(), "127.0.0.1", acceptor.local_endpoint().port());
  phone->start();
  asio::ip::tcp::socket accepted(io);
  bool isAccepted = false;
  acceptor.async_accept(accepted, [&](asio::error_code) { isAccepted = true; });
  while (!isAccepted) io.run_one();
  auto host = StreamTransport::make(std::move(accepted), TransportKind::lan);
  host->start();
  std::optional<std::uint16_t> port;
  asio::co_spawn(io, host->prepareDatagramChannel(),
                 [&](std::exception_ptr, std::optional<std::uint16_t> p) { port = p; });
  while (!port) io.run_one();
  bool connected = false;
  asio::co_spawn(io, phone->connectDatagramChannel(*port), [&](std::exception_ptr) { connected = true; });
  while (!connected) io.run_one();
  Progress progress(io);
  asio::co_spawn(io, receiveEvents(host, &progress), asio::detached);
  for (auto _ : state) {
    asio::co_spawn(io, sendRecords(phone, channel, batch, throughputWindow, &progress), asio::detached);
    if (!runUntilReceived(io, progress, progress.sent + batch)) {
      state.SkipWithError("a record was lost");
      return;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
}

void BM_TransportDatagramThroughput(benchmark::State& state) { runTransport(state, Channel::unreliable); }
void BM_TransportStreamThroughput(benchmark::State& state) { runTransport(state, Channel::reliable); }

// --- Bare sockets -------------------------------------------------------------

using Payload = std::array<std::uint8_t, payloadSize>;

Payload payload(bool timed) {
  Payload p{};
  p.fill(0xA5);
  const std::uint64_t at = timed ? nowNs() : 0;
  std::memcpy(p.data(), &at, sizeof at);
  return p;
}

std::uint64_t sentAt(const std::uint8_t* p) {
  std::uint64_t at = 0;
  std::memcpy(&at, p, sizeof at);
  return at;
}

asio::awaitable<void> receiveDatagrams(asio::ip::udp::socket* socket, Progress* progress) {
  std::array<std::uint8_t, 2048> buffer{};
  for (;;) {
    const std::size_t size = co_await socket->async_receive(asio::buffer(buffer), asio::use_awaitable);
    if (size == payloadSize) progress->arrived(sentAt(buffer.data()));
  }
}

asio::awaitable<void> sendDatagrams(asio::ip::udp::socket* socket, bool timed, std::size_t count, std::size_t window,
                                    Progress* progress) {
  for (std::size_t i = 0; i < count; ++i) {
    while (progress->sent - progress->received >= window) co_await progress->changed.wait();
    const Payload p = payload(timed);
    ++progress->sent;
    co_await socket->async_send(asio::buffer(p), asio::use_awaitable);
  }
}

void runBareUdp(benchmark::State& state, bool timed, std::size_t window) {
  asio::io_context io;
  const auto loopback = asio::ip::make_address("127.0.0.1");
  asio::ip::udp::socket receiver(io, asio::ip::udp::endpoint(loopback, 0));
  asio::ip::udp::socket sender(io, asio::ip::udp::endpoint(loopback, 0));
  sender.connect(receiver.local_endpoint());
  receiver.connect(sender.local_endpoint());
  Progress progress(io);
  asio::co_spawn(io, receiveDatagrams(&receiver, &progress), asio::detached);
  for (auto _ : state) {
    asio::co_spawn(io, sendDatagrams(&sender, timed, batch, window, &progress), asio::detached);
    if (!runUntilReceived(io, progress, progress.sent + batch)) {
      state.SkipWithError("a datagram was lost");
      return;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
  if (timed) reportLatency(state, progress.latenciesNs);
}

asio::awaitable<void> receiveStream(asio::ip::tcp::socket* socket, Progress* progress) {
  std::vector<std::uint8_t> pending;
  std::array<std::uint8_t, 65536> buffer{};
  for (;;) {
    const std::size_t size = co_await socket->async_read_some(asio::buffer(buffer), asio::use_awaitable);
    pending.insert(pending.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    std::size_t at = 0;
    for (; pending.size() - at >= payloadSize; at += payloadSize) progress->arrived(sentAt(pending.data() + at));
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
  }
}

asio::awaitable<void> sendStream(asio::ip::tcp::socket* socket, bool timed, std::size_t count, std::size_t window,
                                 Progress* progress) {
  for (std::size_t i = 0; i < count; ++i) {
    while (progress->sent - progress->received >= window) co_await progress->changed.wait();
    const Payload p = payload(timed);
    ++progress->sent;
    co_await asio::async_write(*socket, asio::buffer(p), asio::use_awaitable);
  }
}

void runBareTcp(benchmark::State& state, bool timed, std::size_t window) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  asio::ip::tcp::socket sender(io);
  sender.connect(acceptor.local_endpoint());
  asio::ip::tcp::socket receiver(io);
  acceptor.accept(receiver);
  sender.set_option(asio::ip::tcp::no_delay(true));
  receiver.set_option(asio::ip::tcp::no_delay(true));
  Progress progress(io);
  asio::co_spawn(io, receiveStream(&receiver, &progress), asio::detached);
  for (auto _ : state) {
    asio::co_spawn(io, sendStream(&sender, timed, batch, window, &progress), asio::detached);
    if (!runUntilReceived(io, progress, progress.sent + batch)) {
      state.SkipWithError("the stream stalled");
      return;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
  if (timed) reportLatency(state, progress.latenciesNs);
}

void BM_BareUdpThroughput(benchmark::State& state) { runBareUdp(state, false, throughputWindow); }
void BM_BareTcpThroughput(benchmark::State& state) { runBareTcp(state, false, throughputWindow); }
void BM_BareUdpLatency(benchmark::State& state) { runBareUdp(state, true, 1); }
void BM_BareTcpLatency(benchmark::State& state) { runBareTcp(state, true, 1); }

BENCHMARK(BM_SessionDatagramThroughput)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareUdpThroughput)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransportDatagramThroughput)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SessionStreamThroughput)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransportStreamThroughput)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareTcpThroughput)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SessionDatagramLatency)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareUdpLatency)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SessionStreamLatency)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareTcpLatency)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace glidemate
