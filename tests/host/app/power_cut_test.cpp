// The host process is killed with SIGKILL, as a power cut would stop it, at
// varied moments while phones pair with it or come back to it. Every key
// item it leaves must be whole (the old one or the new one), and every phone
// whose pairing it had kept must still get in afterwards. Seeded and bounded:
// the same sixteen rounds every time, each with its own moment to kill.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kit/session/keychain_store.hpp"
#include "kit/session/session.hpp"
#include "kit/transport/stream_transport.hpp"
#include "phone/phone_pairing.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/memory_keychain.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/glidemate-power-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct Phone {
  explicit Phone(std::string phoneId) : id(std::move(phoneId)) {}
  std::string id;
  testing::MemoryKeychain keys;
  KeychainStore store{phone::PhonePairing::service, keys};
};

class PowerCutTest : public ::testing::Test {
 protected:
  TempDir dir;
  asio::io_context io;
  std::unique_ptr<ChildProcess> host;
  std::uint16_t port = 0;

  void startHost() {
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{GLIDEMATE_HOST_BIN, "--no-advertise", "--input", "none", "--json", "--name", "Desk",
                                 "--data-dir", dir.path().string()},
        std::vector<std::string>{}, true, true);
    const std::string listening = host->readLineContaining("\"listening\"");
    ASSERT_FALSE(listening.empty()) << "the host did not start";
    port = nlohmann::json::parse(listening)["port"].get<std::uint16_t>();
  }

  // Runs the phone's handshake to its end: pairs when it has no key yet
  // (typing the code the host prints), else authenticates. True once in.
  bool connect(Phone& phone) {
    auto pairing = std::make_shared<phone::PhonePairing>(phone.store, [this](const PeerInfo&) -> std::optional<PairingCode> {
      const std::string line = host->readLineContaining("\"pairingCode\"");
      if (line.empty()) return std::nullopt;
      return PairingCode::fromText(nlohmann::json::parse(line)["code"].get<std::string>());
    });
    const bool paired = !phone.store.allPeers().empty();
    auto session = Session::make(io.get_executor(), StreamTransport::connect(io.get_executor(), "127.0.0.1", port),
                                 Session::Role::client, PeerInfo{phone.id, phone.id}, pairing,
                                 paired ? std::optional<std::string>(hostId()) : std::nullopt, 10s);
    bool done = false;
    bool in = false;
    asio::co_spawn(io, [](std::shared_ptr<Session> s, bool& ok, bool& finished) -> asio::awaitable<void> {
      try {
        co_await s->performHandshake();
        ok = true;
      } catch (const std::exception&) {
      }
      s->close();
      finished = true;
    }(session, in, done), asio::detached);
    EXPECT_TRUE(testing::runUntil(io, [&] { return done; }));
    return in;
  }

  std::string hostId() const {
    std::ifstream in(dir.path() / "settings.json");
    return nlohmann::json::parse(in, nullptr, false).value("hostId", "");
  }

  // The host's items, by phone id; a torn or unreadable one fails the test.
  std::map<std::string, SymmetricKey> hostItems() {
    std::map<std::string, SymmetricKey> items;
    const auto folder = dir.path() / "keys" / KeychainStore::hostService;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      // A write that was cut short leaves its temporary file, never an item.
      if (it->path().filename().string().starts_with(".")) continue;
      std::ifstream in(it->path(), std::ios::binary);
      const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const auto entry = KeychainStore::decodeEntry(data);
      EXPECT_TRUE(entry) << "a torn item: " << it->path();
      if (entry) items.emplace(entry->peer.id, entry->key);
    }
    return items;
  }
};

TEST_F(PowerCutTest, EveryItemIsWholeAndEveryKeptPhoneStillGetsIn) {
  std::mt19937 random(20240611);
  std::vector<std::unique_ptr<Phone>> phones;
  // Phones both ends hold a key for: they must always get in again.
  std::vector<Phone*> kept;

  // A first pairing without a cut says how long one takes, so that the
  // moments to kill spread over a whole handshake and the save after it.
  startHost();
  phones.push_back(std::make_unique<Phone>("PHONE-0"));
  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(connect(*phones.back()));
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began);
  kept.push_back(phones.back().get());
  host->stop();

  for (int round = 1; round <= 16; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    startHost();
    Phone* phone = nullptr;
    if (random() % 3 == 0) {
      // One of the kept phones comes back: the host rewrites its item.
      phone = kept[random() % kept.size()];
    } else {
      phones.push_back(std::make_unique<Phone>("PHONE-" + std::to_string(round)));
      phone = phones.back().get();
    }
    const auto cutAfter = std::chrono::microseconds(random() % (2 * span.count() + 2000));
    std::thread cut([pid = host->pid(), cutAfter] {
      std::this_thread::sleep_for(cutAfter);
      ::kill(pid, SIGKILL);
    });
    connect(*phone);
    cut.join();
    EXPECT_EQ(host->wait(), 128 + SIGKILL);

    const auto items = hostItems();
    for (Phone* p : kept) {
      const auto item = items.find(p->id);
      ASSERT_NE(item, items.end()) << p->id << " lost its item";
      EXPECT_TRUE(item->second == *p->store.key(hostId())) << p->id;
    }
    const auto mine = phone->store.key(hostId());
    const auto theirs = items.find(phone->id);
    if (mine && theirs != items.end()) {
      EXPECT_TRUE(*mine == theirs->second);
      if (std::find(kept.begin(), kept.end(), phone) == kept.end()) kept.push_back(phone);
    }
  }

  startHost();
  for (Phone* p : kept) EXPECT_TRUE(connect(*p)) << p->id << " no longer gets in";
  EXPECT_EQ(host->stop(), 0);
}

}  // namespace
}  // namespace glidemate
