// glidemate-load: many phones on one host, for as long as asked.
//
// Starts a host (no input, not advertised) on a temporary folder that
// already holds the keys of N phones, connects the N phones (the library's
// client role, over TCP with the datagram channel), and has each send
// pointer moves at 120 Hz and a text and a ping every second. Prints one
// table row: messages sent per second, the ping round trip (50th and 99th
// percentile), the host's CPU time per message and its resident memory at
// the start and the end of the run, read from /proc.
#include <unistd.h>

#include <algorithm>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "host/server/user_defaults.hpp"
#include "kit/session/keychain_store.hpp"
#include "kit/session/secure_random.hpp"
#include "kit/session/session.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "kit/transport/stream_transport.hpp"
#include "tests/support/child_process.hpp"

namespace {

using namespace glidemate;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* usageText =
    "usage: glidemate-load [--phones N] [--seconds S] [--host PATH]\n"
    "\n"
    "Runs N phones (default 10) against a fresh host for S seconds (default 20):\n"
    "pointer moves at 120 Hz, a text and a ping every second each.\n";

struct Options {
  int phones = 10;
  int seconds = 20;
  std::string hostBinary = GLIDEMATE_HOST_BIN;
};

int positive(const std::string& name, const char* text) {
  int value = 0;
  const std::string_view s(text);
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size() || value <= 0) {
    throw std::invalid_argument(name + " needs a positive whole number");
  }
  return value;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usageText, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
    if (arg == "--phones") {
      o.phones = positive(arg, argv[++i]);
    } else if (arg == "--seconds") {
      o.seconds = positive(arg, argv[++i]);
    } else if (arg == "--host") {
      o.hostBinary = argv[++i];
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  return o;
}

// The key each phone shares with the host, "paired" before the run.
SymmetricKey keyOf(int phone) {
  Bytes bytes(32, static_cast<std::uint8_t>(phone));
  bytes[0] = 0xA5;
  return SymmetricKey(bytes);
}

class PhoneKeys final : public PairingProvider {
 public:
  PhoneKeys(std::string hostId, SymmetricKey key) : hostId_(std::move(hostId)), key_(std::move(key)) {}
  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override {
    if (peerId == hostId_) co_return key_;
    co_return std::nullopt;
  }
  asio::awaitable<std::optional<PairingCode>> beginPairing([[maybe_unused]] PeerInfo peer) override {
    co_return std::nullopt;
  }
  asio::awaitable<void> pairingSucceeded([[maybe_unused]] SymmetricKey key, [[maybe_unused]] PeerInfo peer) override {
    co_return;
  }
  asio::awaitable<void> pairingFailed([[maybe_unused]] PeerInfo peer) override { co_return; }

 private:
  std::string hostId_;
  SymmetricKey key_;
};

// The host's CPU time (user and system) so far, and its resident memory.
struct HostUsage {
  std::chrono::microseconds cpu{};
  long residentKiB = 0;
};

HostUsage usageOf(pid_t pid) {
  HostUsage usage;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::vector<std::string> f((std::istream_iterator<std::string>(fields)), std::istream_iterator<std::string>());
  if (f.size() > 12) {
    const long ticks = std::stol(f[11]) + std::stol(f[12]);  // utime, stime
    usage.cpu = std::chrono::microseconds(ticks * 1'000'000 / ::sysconf(_SC_CLK_TCK));
  }
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) usage.residentKiB = std::stol(line.substr(6));
  }
  return usage;
}

struct Counters {
  std::uint64_t sent = 0;
  std::vector<double> roundTripsMs;
  int established = 0;
  int failed = 0;
};

std::uint64_t nowNs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
}

asio::awaitable<void> readPongs(std::shared_ptr<Session> session, Counters& counters) {
  auto messages = session->messages();
  while (auto message = co_await messages.next()) {
    if (const auto* pong = std::get_if<Message::Pong>(&message->value)) {
      counters.roundTripsMs.push_back(static_cast<double>(nowNs() - pong->sendTimeNs) / 1e6);
    }
  }
}

// One phone: moves at 120 Hz, starting at its own offset within a tick so
// that the phones do not all send at once; a text and a ping every second.
asio::awaitable<void> drive(std::shared_ptr<Session> session, Clock::time_point start, Clock::time_point end,
                            Clock::duration offset, Counters& counters) {
  constexpr auto tick = std::chrono::nanoseconds(1'000'000'000 / 120);
  asio::steady_timer timer(co_await asio::this_coro::executor);
  auto next = start + offset;
  for (std::uint64_t n = 0; next < end; ++n, next += tick) {
    timer.expires_at(next);
    co_await timer.async_wait(asio::use_awaitable);
    Message move = Message::PointerMove{n % 2 == 0 ? 1.5F : -1.5F, 0.5F};
    co_await session->send(std::move(move), Channel::unreliable);
    ++counters.sent;
    if (n % 120 == 0) {
      Message text = Message::Text{"x"};
      co_await session->send(std::move(text));
      Message ping = Message::Ping{nowNs()};
      co_await session->send(std::move(ping));
      counters.sent += 2;
    }
  }
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

int run(const Options& o) {
  char pattern[] = "/tmp/glidemate-load-XXXXXX";
  const std::filesystem::path dir = ::mkdtemp(pattern);
  struct Cleanup {
    std::filesystem::path dir;
    ~Cleanup() { std::filesystem::remove_all(dir); }
  } cleanup{dir};

  // Paired beforehand: the host's settings and key items are written first.
  const std::string hostId = SecureRandom::uuid();
  host::UserDefaults(dir / "settings.json").set("hostId", hostId);
  FileKeychain hostKeys(dir / "keys");
  KeychainStore store(KeychainStore::hostService, hostKeys);
  const auto now = std::chrono::system_clock::now();
  for (int i = 0; i < o.phones; ++i) {
    store.save(keyOf(i), PairedPeer{"LOAD-" + std::to_string(i), "Load " + std::to_string(i), now, now});
  }

  testing::ChildProcess host({o.hostBinary, "--no-advertise", "--input", "none", "--json", "--data-dir", dir.string()},
                             {}, true, true);
  const std::string listening = host.readLineContaining("\"listening\"");
  if (listening.empty()) throw std::runtime_error("the host did not start");
  const auto port = nlohmann::json::parse(listening)["port"].get<std::uint16_t>();

  asio::io_context io;
  Counters counters;
  std::vector<std::shared_ptr<Session>> sessions;
  // Every phone comes from 127.0.0.1, and the host lets one address have
  // only so many handshakes under way: the phones get in a few at a time.
  constexpr int handshakesPerAddress = 8;
  for (int i = 0; i < o.phones; ++i) {
    if (i % handshakesPerAddress == 0) {
      while (counters.established + counters.failed < i) io.run_one();
    }
    auto session = Session::make(io.get_executor(), StreamTransport::connect(io.get_executor(), "127.0.0.1", port),
                                 Session::Role::client, PeerInfo{"LOAD-" + std::to_string(i), "Load"},
                                 std::make_shared<PhoneKeys>(hostId, keyOf(i)), hostId);
    asio::co_spawn(io, [](std::shared_ptr<Session> s, Counters& c) -> asio::awaitable<void> {
      try {
        co_await s->performHandshake();
        ++c.established;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "glidemate-load: a phone did not get in: %s\n", e.what());
        ++c.failed;
      }
    }(session, counters), asio::detached);
    sessions.push_back(std::move(session));
  }
  while (counters.established + counters.failed < o.phones) io.run_one();
  if (counters.failed > 0) throw std::runtime_error("not every phone got in");
  for (auto& s : sessions) asio::co_spawn(io, readPongs(s, counters), asio::detached);

  // Let the connections settle before the first reading.
  io.run_for(500ms);
  const HostUsage before = usageOf(host.pid());
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(o.seconds);
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    const auto offset = std::chrono::nanoseconds(1'000'000'000 / 120) * i / sessions.size();
    asio::co_spawn(io, drive(sessions[i], start, end, offset, counters), asio::detached);
  }
  long peakKiB = before.residentKiB;
  while (Clock::now() < end + 200ms) {
    io.run_for(1s);
    peakKiB = std::max(peakKiB, usageOf(host.pid()).residentKiB);
  }
  const HostUsage after = usageOf(host.pid());
  const double seconds = std::chrono::duration<double>(end - start).count();

  std::printf("| %d | %d | %.0f | %.2f | %.2f | %.1f | %.1f | %.1f | %.1f |\n", o.phones, o.seconds,
              static_cast<double>(counters.sent) / seconds, percentile(counters.roundTripsMs, 0.5),
              percentile(counters.roundTripsMs, 0.99),
              static_cast<double>((after.cpu - before.cpu).count()) / static_cast<double>(counters.sent),
              static_cast<double>(before.residentKiB) / 1024, static_cast<double>(peakKiB) / 1024,
              static_cast<double>(after.residentKiB) / 1024);
  for (auto& s : sessions) s->close();
  io.run_for(200ms);
  host.stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse(argc, argv);
    std::printf("| phones | seconds | messages/s | ping p50 ms | ping p99 ms | host CPU µs/message | RSS start MiB | RSS peak MiB | RSS end MiB |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    return run(o);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "glidemate-load: %s\n\n%s", e.what(), usageText);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "glidemate-load: %s\n", e.what());
    return 1;
  }
}
